#include "net/Session.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "http/HTTPRequestReader.h"
#include "metrics/Metrics.h"

namespace {

// Per readiness report: enough for large bodies, small enough to stay fair to
// the other connections of the same I-O thread.
constexpr int kReadsPerReport = 4;
constexpr size_t kReadPiece = 64 * 1024;
// Answers up to this size are buffered without asking the budget, as requests are.
constexpr uint32_t kFreeAnswerBytes = HTTPParser::HTTPRequestReader::kFreeAllowance;

}  // namespace

const char Session::kFailureAnswer[] =
    "HTTP/1.1 500 Request failed\r\nContent-Type: text/html\r\nConnection: close\r\n"
    "Content-Length: 0\r\n\r\n";
const uint32_t Session::kFailureAnswerLength = sizeof kFailureAnswer - 1;

Session::Session(int socket, uint32_t sessionId, Owner* owner, std::string peerAddress)
    : socket_(socket), sessionId_(sessionId), owner_(owner), peerAddress_(std::move(peerAddress)) {
    Metrics::instance().connectionOpened();
}

Session::~Session() {
    Metrics::instance().connectionClosed();
    if (budget_ != nullptr)
        budget_->release(sendCharged_ + inFlightCharged_);
}

void Session::configure(HTTPParser::BufferBudget* budget, uint32_t) {
    budget_ = budget;
}

void Session::chargeInFlight(uint64_t bytes) {
    AutoLock guard(lock_);
    if (budget_ != nullptr)
        budget_->charge(bytes);
    inFlightCharged_ += bytes;
}

uint64_t Session::progressCount() {
    AutoLock guard(lock_);
    return progress_;
}

bool Session::canRead() {
    AutoLock guard(lock_);
    return sendBuffer_.length() == 0 && !awaitingResponse_ && !peerFinished_;
}

bool Session::onReadable() {
    if (!canRead()) {
        AutoLock guard(lock_);
        // A client that sends on while its request is handled waits with its bytes
        // in the kernel; level-triggered readiness must not keep waking us meanwhile.
        if (awaitingResponse_)
            inputPaused_ = true;
        return true;
    }
    char piece[kReadPiece];
    for (int round = 0; round < kReadsPerReport && canRead(); ++round) {
        ssize_t received = ::recv(socket_, piece, sizeof piece, 0);
        if (received > 0) {
            {
                AutoLock guard(lock_);
                progress_ += static_cast<uint64_t>(received);
            }
            if (!onData(piece, static_cast<int>(received)))
                return false;
            if (static_cast<size_t>(received) < sizeof piece)
                break;
            continue;
        }
        if (received == 0) {
            // A peer that half-closes after a request still gets its answer.
            AutoLock guard(lock_);
            if (!awaitingResponse_)
                return false;
            peerFinished_ = true;
            return true;
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

bool Session::onWritable() {
    AutoLock guard(lock_);
    uint32_t length = sendBuffer_.length();
    if (length == 0)
        return true;
    bool ok = true;
    while (sentCount_ < length) {
        ssize_t sent =
            ::send(socket_, sendBuffer_.data() + sentCount_, length - sentCount_, MSG_NOSIGNAL);
        if (sent > 0) {
            sentCount_ += static_cast<uint32_t>(sent);
            progress_ += static_cast<uint64_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        ok = sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        break;
    }
    if (sentCount_ >= length) {
        // The block goes back too: an idle keep-alive connection holds none.
        if (budget_ != nullptr) {
            budget_->release(sendCharged_);
            budget_->noteFreed(sendBuffer_.capacity());
        }
        sendCharged_ = 0;
        sendBuffer_ = HTTPParser::IOB();
        sentCount_ = 0;
        if (closeAfterSend_)
            return false;
    }
    return ok;
}

bool Session::queueSend(const HTTPParser::IOB& bytes, bool closeAfterSend) {
    return queueSend(bytes.chars(), bytes.length(), closeAfterSend);
}

bool Session::queueSend(const char* bytes, uint32_t length, bool closeAfterSend) {
    // One lock for bytes and close flag: the I-O thread must never drain the bytes
    // and read on before it learns that the connection closes after them.
    AutoLock guard(lock_);
    awaitingResponse_ = false;
    answered_ = true;
    inputPaused_ = false;
    if (budget_ != nullptr)
        budget_->release(inFlightCharged_);
    inFlightCharged_ = 0;
    if (closeAfterSend)
        closeAfterSend_ = true;
    if (length == 0)
        return true;
    // Small answers, like small requests, never ask; a large one is admitted only when
    // the budget has room for it, so clients that do not read cannot pile answers up.
    const bool admitted =
        budget_ == nullptr || length <= kFreeAnswerBytes || budget_->tryCharge(length);
    if (admitted && sendBuffer_.append(bytes, length)) {
        if (budget_ != nullptr && length <= kFreeAnswerBytes)
            budget_->charge(length);
        if (budget_ != nullptr)
            sendCharged_ += length;
        return true;
    }
    if (admitted && budget_ != nullptr && length > kFreeAnswerBytes)
        budget_->release(length);
    Metrics::instance().closedForBudget();
    closeAfterSend_ = true;
    peerFinished_ = true;
    // The failure answer is small: it always fits, unless memory itself has run out.
    if (sendBuffer_.append(kFailureAnswer, kFailureAnswerLength) && budget_ != nullptr) {
        budget_->charge(kFailureAnswerLength);
        sendCharged_ += kFailureAnswerLength;
    }
    return false;
}

void Session::setAwaitingResponse() {
    AutoLock guard(lock_);
    awaitingResponse_ = true;
}

bool Session::hasUnsentBytes() {
    AutoLock guard(lock_);
    return sendBuffer_.length() > 0;
}

bool Session::isAwaitingResponse() {
    AutoLock guard(lock_);
    return awaitingResponse_;
}

bool Session::isPeerFinished() {
    AutoLock guard(lock_);
    return peerFinished_;
}

bool Session::wasAnswered() {
    AutoLock guard(lock_);
    return answered_;
}

bool Session::closeAfterSend() {
    AutoLock guard(lock_);
    return closeAfterSend_;
}

Session::Interest Session::wantedInterest() {
    AutoLock guard(lock_);
    if (sendBuffer_.length() > 0)
        return Interest::Write;
    if (peerFinished_ || (awaitingResponse_ && inputPaused_))
        return Interest::None;
    return Interest::Read;
}

#include "net/Session.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/uio.h>
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
    if (sharedBody_ != nullptr)
        sharedBody_->releaseSender();
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
    return !sendingLocked() && !awaitingResponse_ && !peerFinished_;
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

ssize_t Session::sendSomeLocked() {
    const uint32_t head = sendBuffer_.length();
    if (sharedBody_ == nullptr)
        return ::send(socket_, sendBuffer_.data() + sentCount_, head - sentCount_, MSG_NOSIGNAL);
    iovec parts[2];
    size_t count = 0;
    if (sentCount_ < head)
        parts[count++] = iovec{sendBuffer_.data() + sentCount_, size_t(head - sentCount_)};
    const uint32_t bodySent = sentCount_ > head ? sentCount_ - head : 0;
    // The body is never written through this pointer: sendmsg only reads it.
    parts[count++] = iovec{const_cast<uint8_t*>(sharedBody_->data()) + bodySent,
                           size_t(sharedBody_->length() - bodySent)};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    return ::sendmsg(socket_, &message, MSG_NOSIGNAL);
}

bool Session::onWritable() {
    AutoLock guard(lock_);
    if (!sendingLocked())
        return true;
    const uint32_t length =
        sendBuffer_.length() + (sharedBody_ != nullptr ? sharedBody_->length() : 0);
    bool ok = true;
    while (sentCount_ < length) {
        ssize_t sent = sendSomeLocked();
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
        finishSendLocked();
        if (closeAfterSend_)
            return false;
    }
    return ok;
}

void Session::finishSendLocked() {
    // The block goes back too: an idle keep-alive connection holds none.
    if (budget_ != nullptr) {
        budget_->release(sendCharged_);
        budget_->noteFreed(sendBuffer_.capacity());
    }
    sendCharged_ = 0;
    sendBuffer_ = HTTPParser::IOB();
    if (sharedBody_ != nullptr)
        sharedBody_->releaseSender();
    sharedBody_.reset();
    sentCount_ = 0;
}

bool Session::queueSend(const HTTPParser::IOB& bytes, bool closeAfterSend, SharedBody body) {
    return queueSend(bytes.chars(), bytes.length(), closeAfterSend, std::move(body));
}

bool Session::appendAnswerLocked(const char* bytes, uint32_t length) {
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
    return false;
}

bool Session::queueSend(const char* bytes, uint32_t length, bool closeAfterSend, SharedBody body) {
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
    if (length == 0 && body == nullptr)
        return true;
    // Bytes queued behind a shared body still unsent would overtake it; a connection
    // answers one request at a time, so only a fault gets here, and it ends the connection.
    if (sharedBody_ != nullptr) {
        closeAfterSend_ = true;
        peerFinished_ = true;
        return false;
    }
    const bool bodyAdmitted = body == nullptr || body->admitSender(budget_, kFreeAnswerBytes);
    if (bodyAdmitted && appendAnswerLocked(bytes, length)) {
        sharedBody_ = std::move(body);
        return true;
    }
    if (bodyAdmitted && body != nullptr)
        body->releaseSender();
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
    return sendingLocked();
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
    if (sendingLocked())
        return Interest::Write;
    if (peerFinished_ || (awaitingResponse_ && inputPaused_))
        return Interest::None;
    return Interest::Read;
}

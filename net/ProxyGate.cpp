#include "net/ProxyGate.h"

#include <algorithm>

namespace {

// The longer of the two signatures.
constexpr size_t kLongestSignature = 12;

}  // namespace

ProxyGate::Outcome ProxyGate::feed(const char* data, size_t length, size_t& used) {
    used = 0;
    if (outcome_ != Outcome::Waiting)
        return outcome_;
    if (rule_ == Rule::RequireHeader) {
        used = header_.feed(data, length);
        if (header_.state() == ProxyHeader::State::Done)
            outcome_ = Outcome::Passed;
        else if (header_.state() == ProxyHeader::State::Failed)
            outcome_ = Outcome::Refused;
        return outcome_;
    }
    // Held bytes and the front of this piece, up to one signature's length, decide.
    char front[kLongestSignature];
    const size_t heldLength = held_.size();
    const size_t taken = std::min(length, kLongestSignature - heldLength);
    std::copy(held_.begin(), held_.end(), front);
    std::copy(data, data + taken, front + heldLength);
    switch (ProxyHeader::beginsHeader(front, heldLength + taken)) {
        case ProxyHeader::Match::Yes:
            outcome_ = Outcome::Refused;
            break;
        case ProxyHeader::Match::Maybe:
            // Only when the whole piece is still a prefix: it is held until more arrives.
            held_.append(data, length);
            used = length;
            break;
        case ProxyHeader::Match::No:
            outcome_ = Outcome::Passed;
            break;
    }
    return outcome_;
}

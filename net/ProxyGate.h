#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "net/ProxyHeader.h"

// The first bytes of a connection. From a trusted proxy they must be a PROXY header, which
// names the client behind it; from anyone else they are the client's own, and a PROXY
// header there is refused, since a client must not name itself some other address.
class ProxyGate {
  public:
    enum class Rule { RefuseHeader, RequireHeader };
    enum class Outcome {
        Waiting,  // all bytes taken; more are needed to decide
        Passed,   // the stream begins with held(), then the bytes from `used` on
        Refused,  // a header where none may be, or a missing or broken one where one must be
    };

    explicit ProxyGate(Rule rule = Rule::RefuseHeader) : rule_(rule) {}

    // Once Passed or Refused, the outcome stays and feed takes nothing more.
    Outcome feed(const char* data, size_t length, size_t& used);
    bool isDecided() const { return outcome_ != Outcome::Waiting; }
    Rule rule() const { return rule_; }
    // What the header said; only meaningful under RequireHeader once Passed.
    const ProxyHeader& header() const { return header_; }
    // Bytes held back while they could still have begun a header (RefuseHeader only); they
    // come before the rest of the piece that decided.
    std::string_view held() const { return held_; }

  private:
    Rule rule_;
    Outcome outcome_ = Outcome::Waiting;
    ProxyHeader header_;
    std::string held_;
};

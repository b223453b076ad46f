#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The PROXY protocol header that a proxy in front of the server (TLS terminator, load
// balancer) sends before its client's bytes, naming the client's address: version 1, one
// text line of at most 107 bytes, or version 2, a binary block with a 16-byte fixed part
// and a length. The bytes come from the network and are read as hostile: the reader holds
// at most the first 108 bytes of a header, skips the rest of a version 2 block (its TLVs)
// by counting, and accepts bytes in any pieces, one at a time if need be.
class ProxyHeader {
  public:
    enum class State {
        Reading,  // more bytes are needed
        Done,     // a whole, valid header was read
        Failed,   // the bytes are not a valid header
    };
    // What a header carries about the client.
    enum class Source {
        None,  // LOCAL, UNKNOWN, or an address family without an IP address
        IPv4,
        IPv6,
    };

    static constexpr size_t kMaxLineLength = 107;
    static constexpr size_t kFixedPartLength = 16;

    // Takes bytes that follow those fed before. Returns how many of them belong to the
    // header: once Done, the rest begins the client's stream; once Failed, no more are taken.
    size_t feed(const char* data, size_t length);

    State state() const { return state_; }
    // 1 or 2 once the signature has been recognised, else 0.
    int version() const { return version_; }
    // None until the whole header is read.
    Source source() const { return state_ == State::Done ? source_ : Source::None; }
    // The client's address in network order: 4 bytes for IPv4, 16 for IPv6.
    const std::array<uint8_t, 16>& sourceBytes() const { return sourceBytes_; }
    uint16_t sourcePort() const { return sourcePort_; }
    // Dotted IPv4 or IPv6 text of the client's address; empty when the source is None.
    std::string sourceText() const;

    enum class Match { No, Maybe, Yes };
    // Whether the first bytes of a connection begin a header: Yes once a whole signature is
    // there, Maybe while they are still a prefix of one.
    static Match beginsHeader(const char* data, size_t length);

  private:
    void step();
    void checkSignature();
    void stepLine();
    void stepBinary();
    bool parseLine();
    bool readBinaryFixedPart();
    void fail() { state_ = State::Failed; }

    State state_ = State::Reading;
    int version_ = 0;
    // A line up to its LF, or the fixed part and the addresses of a binary header.
    std::array<char, kMaxLineLength + 1> held_{};
    size_t heldLength_ = 0;
    // Binary header: the address bytes still to hold, then the bytes to pass over.
    size_t addressLength_ = 0;
    size_t skipRemaining_ = 0;
    Source source_ = Source::None;
    std::array<uint8_t, 16> sourceBytes_{};
    uint16_t sourcePort_ = 0;
};

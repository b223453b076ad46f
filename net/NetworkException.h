#pragma once

// Raised by a failing step while the listening socket starts; it never leaves
// ServerSocket::start, which answers with false.
class NetworkException {
  public:
    virtual ~NetworkException() = default;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 from OpenSSL's libcrypto, as lower-case hex.
namespace Sha256 {

// The digest of the file's first length bytes (all of it when length < 0); empty when
// the file cannot be read or is shorter.
std::string ofFile(const std::string& path, int64_t length = -1);

}  // namespace Sha256

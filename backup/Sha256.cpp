#include "backup/Sha256.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include <openssl/evp.h>

namespace Sha256 {

std::string ofFile(const std::string& path, int64_t length) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::vector<unsigned char> buffer(1 << 20);
    int64_t left = length;
    while (ok && left != 0) {
        const size_t want =
            left < 0 ? buffer.size() : size_t(std::min<int64_t>(left, buffer.size()));
        const ssize_t got = ::read(fd, buffer.data(), want);
        if (got < 0 || (got == 0 && left > 0)) {
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            ok = EVP_DigestUpdate(context.get(), buffer.data(), size_t(got)) == 1;
            if (left > 0)
                left -= got;
        }
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &size) != 1)
        return {};
    static const char* const kHex = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace Sha256

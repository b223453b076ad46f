#include "storage/HistoryEndRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <zlib.h>

#include "platform/AtomicFile.h"
#include "platform/FileOps.h"
#include "storage/ByteOrder.h"

namespace Storage {

namespace {

uint32_t crcOf(const uint8_t* bytes, size_t size) {
    return uint32_t(crc32_z(crc32_z(0, nullptr, 0), bytes, size));
}

}  // namespace

bool HistoryEndRecord::read(const std::string& path, HistoryEndRecord& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t bytes[kSize];
    const bool whole = ::pread(fd, bytes, sizeof bytes, 0) == ssize_t(sizeof bytes);
    ::close(fd);
    if (!whole || loadLittleEndian32(bytes + 16) != crcOf(bytes, 16))
        return false;
    out.number = loadLittleEndian32(bytes);
    out.end = loadLittleEndian64(bytes + 4);
    out.crc = loadLittleEndian32(bytes + 12);
    return true;
}

bool HistoryEndRecord::write(const std::string& path) const {
    uint8_t bytes[kSize];
    storeLittleEndian32(bytes, number);
    storeLittleEndian64(bytes + 4, end);
    storeLittleEndian32(bytes + 12, crc);
    storeLittleEndian32(bytes + 16, crcOf(bytes, 16));
    // The record fits one sector, so it reaches the disk old or new, never mixed; its own
    // check covers a disk that does not keep even that.
    bool created = true;
    int fd = fileOps().open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = fileOps().open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    }
    if (fd < 0)
        return false;
    bool ok = ::lseek(fd, 0, SEEK_SET) == 0;
    const uint8_t* at = bytes;
    for (size_t left = sizeof bytes; ok && left > 0;) {
        const ssize_t written = fileOps().writeFd(fd, at, left);
        if (written < 0 && errno == EINTR)
            continue;
        ok = written > 0;
        if (ok) {
            at += written;
            left -= size_t(written);
        }
    }
    ok = ok && fileOps().sync(fd) == 0;
    ::close(fd);
    return ok && (!created || syncParentFolder(path));
}

}  // namespace Storage

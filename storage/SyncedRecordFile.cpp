#include "storage/SyncedRecordFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

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

bool readSyncedRecord(const std::string& path, uint8_t* record, size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<uint8_t> bytes(size + 4);
    const bool whole = ::pread(fd, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size());
    ::close(fd);
    if (!whole || loadLittleEndian32(bytes.data() + size) != crcOf(bytes.data(), size))
        return false;
    std::copy(bytes.begin(), bytes.begin() + std::ptrdiff_t(size), record);
    return true;
}

bool writeSyncedRecord(const std::string& path, const uint8_t* record, size_t size) {
    std::vector<uint8_t> bytes(record, record + size);
    bytes.resize(size + 4);
    storeLittleEndian32(bytes.data() + size, crcOf(record, size));
    // Every append overwrites the record of a file that is there; only the first creates it.
    bool created = false;
    int fd = fileOps().open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0 && errno == ENOENT) {
        fd = fileOps().open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        created = fd >= 0;
    }
    if (fd < 0)
        return false;
    bool ok = ::lseek(fd, 0, SEEK_SET) == 0;
    const uint8_t* at = bytes.data();
    for (size_t left = bytes.size(); ok && left > 0;) {
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

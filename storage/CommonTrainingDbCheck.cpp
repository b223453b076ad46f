// Checking the training database's files without loading them into a store: what a backup
// or an administrator needs to know before trusting a copy of them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "storage/CommonTrainingDb.h"
#include "storage/MessageDescriptor.h"
#include "storage/TrainingDbOptions.h"

namespace {

// The offset after the last whole record, walking the heads only; damagedAt is the offset
// of a head that cannot be a record's (-1 when none). -1 on a read error.
int64_t wholeRecordsEnd(int fd, int64_t size, int64_t& damagedAt) {
    damagedAt = -1;
    int64_t at = 0;
    while (size - at >= int64_t(MessageDescriptor::kHeaderSize)) {
        uint8_t header[MessageDescriptor::kHeaderSize];
        if (::pread(fd, header, sizeof header, at) != ssize_t(sizeof header))
            return -1;
        uint32_t label = 0, count = 0;
        int32_t status = 0;
        if (!DescriptorRecord::decodeHeader(header, label, status, count)) {
            damagedAt = at;
            return at;
        }
        const int64_t next = at + MessageDescriptor::kHeaderSize + 8 * int64_t(count);
        if (next > size)
            break;
        at = next;
    }
    return at;
}

}  // namespace

std::vector<std::string> CommonTrainingDb::checkFiles(const std::string& folder) {
    std::vector<std::string> problems;
    const std::string dataPath = folder + kDataFileName;
    const int fd = ::open(dataPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        problems.push_back(std::string(kDataFileName) + ": cannot be read");
        return problems;
    }
    int64_t damagedAt = -1;
    const int64_t whole = wholeRecordsEnd(fd, int64_t(st.st_size), damagedAt);
    ::close(fd);
    if (whole < 0) {
        problems.push_back(std::string(kDataFileName) + ": cannot be read");
        return problems;
    }
    TrainingDbEnd recorded;
    const bool endKnown = recorded.read(folder + kEndFileName) &&
                          recorded.fileId == uint64_t(st.st_ino) &&
                          recorded.end <= uint64_t(st.st_size);
    const int64_t acknowledged = endKnown ? int64_t(recorded.end) : int64_t(st.st_size);
    if (endKnown && acknowledged < st.st_size)
        problems.push_back(std::string(kDataFileName) + ": bytes from offset " +
                           std::to_string(acknowledged) +
                           " on were never acknowledged; a load drops them");
    if (damagedAt >= 0 && damagedAt < acknowledged)
        problems.push_back(std::string(kDataFileName) + ": damaged record at offset " +
                           std::to_string(damagedAt) +
                           "; a load sets the file aside and keeps the records before it");
    else if (damagedAt < 0 && whole < acknowledged)
        problems.push_back(std::string(kDataFileName) + ": last record incomplete from offset " +
                           std::to_string(whole) + "; a load drops it");

    // A missing or short options file is one an older build or a first start left.
    std::ifstream in(folder + kOptionsFileName, std::ios::binary);
    uint8_t bytes[TrainingDbOptions::kSize] = {};
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    TrainingDbOptions options;
    options.decode(bytes, size_t(in.gcount()));
    if (options.complete && options.firstOffsetIn(uint64_t(st.st_ino)) > whole)
        problems.push_back(std::string(kOptionsFileName) +
                           ": the history starts beyond the records of " + kDataFileName);
    return problems;
}

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

// What a walk over the record heads found, up to the first head that cannot be a
// record's or the first record that does not fit.
struct Walk {
    int64_t whole = 0;       // the offset after the last whole record; -1 on a read error
    int64_t damagedAt = -1;  // a head that cannot be a record's (-1 when none)
    int64_t badStatusAt = -1;
    int32_t badStatus = 0;
    bool firstFound = false;  // the history's start is a record's offset or the end
    uint32_t held = 0;        // whole records from the history's start to the acknowledged end
};

Walk walkHeads(int fd, int64_t size, int64_t first, int64_t acknowledged) {
    Walk walk;
    int64_t at = 0;
    while (size - at >= int64_t(MessageDescriptor::kHeaderSize)) {
        uint8_t header[MessageDescriptor::kHeaderSize];
        if (::pread(fd, header, sizeof header, at) != ssize_t(sizeof header)) {
            walk.whole = -1;
            return walk;
        }
        uint32_t label = 0, count = 0;
        int32_t status = 0;
        if (!DescriptorRecord::decodeHeader(header, label, status, count)) {
            walk.damagedAt = at;
            break;
        }
        const int64_t next = at + MessageDescriptor::kHeaderSize + 8 * int64_t(count);
        if (next > size)
            break;
        // A load keeps such a record, but no push writes one.
        if (status <= 0 && walk.badStatusAt < 0) {
            walk.badStatusAt = at;
            walk.badStatus = status;
        }
        walk.firstFound = walk.firstFound || at == first;
        if (at >= first && next <= acknowledged)
            ++walk.held;
        at = next;
    }
    walk.whole = at;
    walk.firstFound = walk.firstFound || at == first;
    return walk;
}

}  // namespace

std::vector<std::string> CommonTrainingDb::checkFiles(const std::string& folder,
                                                      Storage::FilesFound* found) {
    std::vector<std::string> problems;
    Storage::FilesFound ignored;
    Storage::FilesFound& facts = found ? *found : ignored;
    facts = Storage::FilesFound{};
    const auto dropped = [&](std::string line) {
        if (found)
            found->unfinishedAppend = std::move(line);
        else
            problems.push_back(std::move(line));
    };
    const std::string dataPath = folder + kDataFileName;
    const int fd = ::open(dataPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        problems.push_back(std::string(kDataFileName) + ": cannot be read");
        return problems;
    }
    TrainingDbEnd recorded;
    const bool endKnown = recorded.read(folder + kEndFileName) &&
                          recorded.fileId == uint64_t(st.st_ino) &&
                          recorded.end <= uint64_t(st.st_size);
    const int64_t acknowledged = endKnown ? int64_t(recorded.end) : int64_t(st.st_size);

    // A missing or short options file is one an older build or a first start left.
    std::ifstream in(folder + kOptionsFileName, std::ios::binary);
    uint8_t bytes[TrainingDbOptions::kSize] = {};
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    TrainingDbOptions options;
    options.decode(bytes, size_t(in.gcount()));
    struct stat optionsStat {};
    const off_t optionsSize =
        ::stat((folder + kOptionsFileName).c_str(), &optionsStat) == 0 ? optionsStat.st_size : 0;
    const int64_t first = options.firstOffsetIn(uint64_t(st.st_ino));

    const Walk walk = walkHeads(fd, int64_t(st.st_size), first, acknowledged);
    ::close(fd);
    if (walk.whole < 0) {
        problems.push_back(std::string(kDataFileName) + ": cannot be read");
        return problems;
    }
    if (endKnown && acknowledged < st.st_size)
        dropped(std::string(kDataFileName) + ": bytes from offset " + std::to_string(acknowledged) +
                " on were never acknowledged; a load drops them");
    if (walk.damagedAt >= 0 && walk.damagedAt < acknowledged) {
        problems.push_back(std::string(kDataFileName) + ": damaged record at offset " +
                           std::to_string(walk.damagedAt) +
                           "; a load sets the file aside and keeps the records before it");
    } else if (walk.damagedAt < 0 && walk.whole < acknowledged) {
        // Past the recorded end a torn record is an append under way; before it, damage.
        const std::string line = std::string(kDataFileName) +
                                 ": last record incomplete from offset " +
                                 std::to_string(walk.whole) + "; a load drops it";
        if (endKnown)
            problems.push_back(line);
        else
            dropped(line);
    }
    if (walk.badStatusAt >= 0 && walk.badStatusAt < acknowledged)
        problems.push_back(std::string(kDataFileName) + ": the record at offset " +
                           std::to_string(walk.badStatusAt) + " has the status " +
                           std::to_string(walk.badStatus) + " (damaged)");

    if (optionsSize != 0 && optionsSize != 4 && optionsSize != off_t(TrainingDbOptions::kSize))
        problems.push_back(std::string(kOptionsFileName) + ": length " +
                           std::to_string(optionsSize) + " is neither 4 nor " +
                           std::to_string(TrainingDbOptions::kSize));
    else if (options.complete && first > walk.whole)
        problems.push_back(std::string(kOptionsFileName) +
                           ": the history starts beyond the records of " + kDataFileName);
    else if (!walk.firstFound)
        problems.push_back(std::string(kOptionsFileName) + ": the history starts at offset " +
                           std::to_string(first) + ", which is not a record of " + kDataFileName);
    facts.historyBase = options.historyBase;
    facts.end = options.historyBase + walk.held;
    return problems;
}

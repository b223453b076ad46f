#include "storage/StoreCheck.h"

#include <sys/stat.h>

#include <cstdio>
#include <string_view>

#include <zlib.h>

#include "platform/FileSystem.h"
#include "storage/ByteOrder.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "storage/FlatStorage.h"
#include "storage/MessageDescriptor.h"
#include "storage/TrainingDbOptions.h"

namespace StoreCheck {

namespace {

using Problems = std::vector<std::string>;

bool readWhole(const std::string& folder, const char* name, std::string& bytes,
               Problems& problems) {
    if (!FileSystem::fileExists(folder + name)) {
        problems.push_back(std::string(name) + ": missing");
        return false;
    }
    if (!FileSystem::readFile(folder + name, bytes)) {
        problems.push_back(std::string(name) + ": cannot be read");
        return false;
    }
    return true;
}

void checkKeys(const std::string& keys, Problems& problems) {
    const char* name = CommonWhitelist::kKeysFileName;
    const size_t rest = keys.size() % 8;
    if (rest != 0 && rest != CommonWhitelist::kKeysTrailerSize) {
        problems.push_back(std::string(name) + ": length " + std::to_string(keys.size()) +
                           " is not whole keys and a trailer");
        return;
    }
    // The store writes its keys in ascending signed order, so any other order is damage.
    const auto* bytes = reinterpret_cast<const uint8_t*>(keys.data());
    for (size_t i = 1; i < keys.size() / 8; ++i) {
        if (int64_t(Storage::loadLittleEndian64(bytes + 8 * i)) <=
            int64_t(Storage::loadLittleEndian64(bytes + 8 * (i - 1)))) {
            problems.push_back(std::string(name) + ": key " + std::to_string(i) +
                               " is out of order (damaged)");
            return;
        }
    }
}

void checkHistory(const std::string& history, Extent& extent, Problems& problems) {
    const std::string name = CommonWhitelist::kHistoryFileName;
    if (history.empty())
        return;  // a new store's history: base 0, nothing held
    if (history.size() < 4) {
        problems.push_back(name + ": length " + std::to_string(history.size()) +
                           " is shorter than its base");
        return;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(history.data());
    const size_t body = history.size() - 4;
    const size_t trailer = CommonWhitelist::kHistoryTrailerSize;
    const size_t rest = body % WhitelistChange::kSize;
    if (rest != 0 && rest != trailer) {
        problems.push_back(name + ": length " + std::to_string(history.size()) +
                           " is not whole records and a trailer (cut or damaged)");
        return;
    }
    if (rest == trailer) {
        // The trailer's second half is the CRC-32 of every byte before the trailer.
        const size_t covered = history.size() - trailer;
        const uint32_t crc = covered == 0 ? 0 : uint32_t(crc32_z(0, bytes, covered));
        if (Storage::loadLittleEndian32(bytes + covered + 4) != crc) {
            problems.push_back(name + ": the trailer's checksum does not match the records");
            return;
        }
    }
    extent.historyBase = Storage::loadLittleEndian32(bytes);
    extent.end = extent.historyBase + uint32_t(body / WhitelistChange::kSize);
    for (size_t i = 0; i < body / WhitelistChange::kSize; ++i) {
        const uint8_t op = bytes[4 + i * WhitelistChange::kSize];
        if (op > 1) {
            problems.push_back(name + ": record " + std::to_string(i) + " has the operation " +
                               std::to_string(op) + " (damaged)");
            return;
        }
    }
}

void checkSetAside(const std::string& folder, Problems& problems) {
    const std::string prefix = std::string(CommonTrainingDb::kDataFileName) + ".damaged-";
    for (const std::string& name : FileSystem::listFolder(folder)) {
        if (name.rfind(prefix, 0) == 0) {
            problems.push_back(name + ": a damaged data file was set aside here at a load");
        }
    }
}

}  // namespace

void checkWhitelist(const std::string& folder, bool live, Extent& extent, Problems& problems) {
    (void)live;  // appends replace the trailer in one write; the caller reads again
    extent = Extent{};
    std::string keys, history;
    if (readWhole(folder, CommonWhitelist::kKeysFileName, keys, problems))
        checkKeys(keys, problems);
    if (readWhole(folder, CommonWhitelist::kHistoryFileName, history, problems))
        checkHistory(history, extent, problems);
}

void checkTrainingDb(const std::string& folder, bool live, Extent& extent, Problems& problems) {
    extent = Extent{};
    checkSetAside(folder, problems);
    const std::string optionsName = CommonTrainingDb::kOptionsFileName;
    const std::string dataName = CommonTrainingDb::kDataFileName;
    if (!FileSystem::fileExists(folder + optionsName)) {
        problems.push_back(optionsName + ": missing");
        return;
    }
    TrainingDbOptions options;
    const long long optionsSize = FileSystem::fileSize(folder + optionsName);
    if (optionsSize != 0 && optionsSize != 4 &&
        optionsSize != static_cast<long long>(TrainingDbOptions::kSize)) {
        problems.push_back(optionsName + ": length " + std::to_string(optionsSize) +
                           " is neither 4 nor " + std::to_string(TrainingDbOptions::kSize));
        return;
    }
    if (!options.read(folder + optionsName)) {
        problems.push_back(optionsName + ": cannot be read");
        return;
    }
    Storage::FlatStorage data;
    struct stat about {};
    if (!data.open(folder + dataName, "rb") || ::fstat(fileno(data.stream()), &about) != 0) {
        problems.push_back(dataName + ": missing or cannot be read");
        return;
    }
    const int64_t first = options.firstOffsetIn(uint64_t(about.st_ino));
    const int64_t size = about.st_size;
    int64_t offset = 0;
    uint32_t held = 0;
    bool firstFound = first == 0;
    MessageDescriptor descriptor;
    while (offset < size) {
        const auto result = DescriptorRecord::read(data, descriptor);
        if (result != DescriptorRecord::ReadResult::ok) {
            if (result == DescriptorRecord::ReadResult::ioError) {
                problems.push_back(dataName + ": read error at offset " + std::to_string(offset));
            } else if (!live) {
                problems.push_back(dataName + ": the record at offset " + std::to_string(offset) +
                                   " is cut short or has an impossible count (damaged)");
            }
            break;
        }
        if (descriptor.status <= 0) {
            problems.push_back(dataName + ": the record at offset " + std::to_string(offset) +
                               " has the status " + std::to_string(descriptor.status) +
                               " (damaged)");
            break;
        }
        if (offset >= first)
            ++held;
        offset += descriptor.recordSize();
        firstFound = firstFound || offset == first;
    }
    if (!firstFound && first != offset) {
        problems.push_back(optionsName + ": the history starts at offset " + std::to_string(first) +
                           ", which is not a record of " + dataName);
    }
    extent.historyBase = options.historyBase;
    extent.end = options.historyBase + held;
}

}  // namespace StoreCheck

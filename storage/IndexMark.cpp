#include "storage/IndexMark.h"

#include <algorithm>

#include <zlib.h>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "storage/ByteOrder.h"

namespace {

uint32_t checksum(const uint8_t* bytes) {
    return uint32_t(crc32_z(0, bytes, 8));
}

}  // namespace

IndexMark::State IndexMark::read(const std::string& folder) {
    whitelist = trainingDb = 0;
    const std::string path = folder + kFileName;
    if (!FileSystem::fileExists(path))
        return State::missing;
    std::string text;
    if (!FileSystem::readFile(path, text) || text.size() != kSize)
        return State::damaged;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (Storage::loadLittleEndian32(bytes + 8) != checksum(bytes))
        return State::damaged;
    whitelist = Storage::loadLittleEndian32(bytes);
    trainingDb = Storage::loadLittleEndian32(bytes + 4);
    return State::sound;
}

bool IndexMark::write(const std::string& folder) const {
    uint8_t bytes[kSize];
    Storage::storeLittleEndian32(bytes, whitelist);
    Storage::storeLittleEndian32(bytes + 4, trainingDb);
    Storage::storeLittleEndian32(bytes + 8, checksum(bytes));
    return replaceFileContents(folder + kFileName,
                               std::string_view(reinterpret_cast<const char*>(bytes), kSize));
}

void IndexMark::raiseTo(uint32_t whitelistEnd, uint32_t trainingDbEnd) {
    whitelist = std::max(whitelist, whitelistEnd);
    trainingDb = std::max(trainingDb, trainingDbEnd);
}

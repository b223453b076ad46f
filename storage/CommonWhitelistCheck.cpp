// Checking the whitelist's files without loading them into a store: what a backup or an
// administrator needs to know before trusting a copy of them.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <unordered_map>

#include "storage/ByteOrder.h"
#include "storage/CommonWhitelist.h"

namespace {

bool readWhole(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Save numbers run on past 32 bits; of two recent ones the later is the greater.
bool laterThan(uint32_t a, uint32_t b) {
    return int32_t(a - b) > 0;
}

}  // namespace

std::vector<std::string> CommonWhitelist::checkFiles(const std::string& folder,
                                                     Storage::FilesFound* found) {
    std::vector<std::string> problems;
    Storage::FilesFound ignored;
    Storage::FilesFound& facts = found ? *found : ignored;
    facts = Storage::FilesFound{};
    std::string keys, history;
    if (!readWhole(folder + kKeysFileName, keys))
        problems.push_back(std::string(kKeysFileName) + ": cannot be read");
    if (!readWhole(folder + kHistoryFileName, history))
        problems.push_back(std::string(kHistoryFileName) + ": cannot be read");
    if (!problems.empty())
        return problems;

    const size_t stray = keys.size() % 8;
    if (stray != 0 && stray != kKeysTrailerSize)
        problems.push_back(std::string(kKeysFileName) + ": " + std::to_string(stray) +
                           " bytes after the last whole key");
    const size_t keyCount = keys.size() / 8;
    std::vector<int64_t> keySet(keyCount);
    for (size_t i = 0; i < keyCount; ++i)
        keySet[i] = int64_t(
            Storage::loadLittleEndian64(reinterpret_cast<const uint8_t*>(keys.data()) + 8 * i));
    if (std::adjacent_find(keySet.begin(), keySet.end(), std::greater_equal<int64_t>()) !=
        keySet.end())
        problems.push_back(std::string(kKeysFileName) + ": keys not in ascending order");
    const bool keysNumbered = stray == kKeysTrailerSize;
    uint32_t keysNumber = 0;
    for (size_t i = kKeysTrailerSize; keysNumbered && i > 0; --i)
        keysNumber = (keysNumber << 8) | uint8_t(keys[keyCount * 8 + i - 1]);

    // An empty history file is a store that never saved one.
    if (history.empty())
        return problems;
    if (history.size() < 4) {
        problems.push_back(std::string(kHistoryFileName) + ": shorter than its 4-byte base");
        return problems;
    }
    const auto* raw = reinterpret_cast<const uint8_t*>(history.data());
    const size_t count = (history.size() - 4) / WhitelistChange::kSize;
    const bool tailFits =
        history.size() == 4 + count * WhitelistChange::kSize + kHistoryTrailerSize;
    const LoadedHistory loaded = findWholePart(
        raw, raw + 4, count, tailFits ? raw + 4 + count * WhitelistChange::kSize : nullptr, folder);
    if (loaded.cut) {
        const std::string line = std::string(kHistoryFileName) + ": bytes from offset " +
                                 std::to_string(loaded.image.bytes) +
                                 " on are an append that did not complete; a load drops them";
        if (found)
            found->unfinishedAppend = line;
        else
            problems.push_back(line);
    } else if (!loaded.numbered && (history.size() - 4) % WhitelistChange::kSize != 0) {
        problems.push_back(std::string(kHistoryFileName) +
                           ": ends in bytes that are neither a record nor a matching trailer");
    }
    const size_t whole =
        loaded.cut ? size_t(loaded.image.bytes - 4) / WhitelistChange::kSize : count;
    facts.historyBase = Storage::loadLittleEndian32(raw);
    facts.end = facts.historyBase + uint32_t(whole);
    // A load takes any other operation than 0 for an insert, but the store writes no other.
    for (size_t i = 0; i < whole; ++i) {
        const uint8_t op = raw[4 + i * WhitelistChange::kSize];
        if (op > 1) {
            problems.push_back(std::string(kHistoryFileName) + ": record " + std::to_string(i) +
                               " has the operation " + std::to_string(op) + " (damaged)");
            break;
        }
    }
    // Keys written by the same save as the history, or later, hold every change it shows.
    if (!keysNumbered || !loaded.numbered || laterThan(loaded.number, keysNumber))
        return problems;
    std::unordered_map<int64_t, bool> lastChange;
    for (size_t i = 0; i < whole; ++i) {
        const WhitelistChange change =
            WhitelistChange::decode(raw + 4 + i * WhitelistChange::kSize);
        const int64_t key = change.key;  // a packed field: copied, never referenced
        lastChange[key] = change.op != 0;
    }
    size_t disagree = 0;
    for (const auto& [key, present] : lastChange)
        disagree += std::binary_search(keySet.begin(), keySet.end(), key) != present ? 1 : 0;
    if (disagree != 0)
        problems.push_back(std::string(kKeysFileName) + " and " + kHistoryFileName +
                           ": disagree on " + std::to_string(disagree) + " keys");
    return problems;
}

// Whitelist files as any bytes: a load may refuse them, but whatever it accepts must be
// a consistent store that saves and loads back to the same keys and history.
#include <sys/stat.h>

#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/ScratchFolder.h"
#include "storage/CommonWhitelist.h"

namespace Fuzz {

namespace {

std::string subfolder(const char* name) {
    std::string folder = scratchFolder() + name + "/";
    mkdir(folder.c_str(), 0700);
    return folder;
}

std::string pull(CommonWhitelist& whitelist, uint32_t startIndex, uint32_t& newIndex) {
    HTTPParser::IOB body;
    FUZZ_CHECK(whitelist.getUpdates(startIndex, body, newIndex));
    return std::string(body.chars(), body.length());
}

}  // namespace

int whitelistLoadTarget(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t keysLength = size_t(input.takeByte()) * 8 + input.takeByte() % 8;
    const std::string keysBytes = input.takeBytes(keysLength);
    const std::string historyBytes = input.takeRest();

    emptyScratchFolder();  // nothing of an earlier input, such as a recorded end, stays
    const std::string original = subfolder("original");
    const std::string copy = subfolder("copy");
    writeScratchFile(original + CommonWhitelist::kKeysFileName, keysBytes);
    writeScratchFile(original + CommonWhitelist::kHistoryFileName, historyBytes);

    Storage::FilesFound found;
    CommonWhitelist::checkFiles(original, &found);  // any bytes: it reports, it never fails

    CommonWhitelist loaded;
    if (!loaded.load(original))
        return 0;
    const uint32_t base = loaded.historyBase();
    const uint32_t count = uint32_t(loaded.count());
    FUZZ_CHECK(loaded.end() == base + count);
    // A backup's manifest numbers what the check counts: what a load of the files holds.
    FUZZ_CHECK(found.historyBase == base && found.end == loaded.end());
    // The history's changes may add keys the key file lacks (a save cut between its renames).
    FUZZ_CHECK(loaded.keyCount() <= keysBytes.size() / 8 + count);

    uint32_t newIndex = 0;
    const std::string history = pull(loaded, base, newIndex);
    FUZZ_CHECK(newIndex == base + count);
    FUZZ_CHECK(history.size() == size_t(count) * WhitelistChange::kSize);
    if (base > 0) {
        // A client from before the held history gets the reset marker and every key.
        const std::string snapshot = pull(loaded, 0, newIndex);
        FUZZ_CHECK(snapshot.size() == (loaded.keyCount() + 1) * WhitelistChange::kSize);
    }

    FUZZ_CHECK(loaded.save(copy));
    CommonWhitelist reloaded;
    FUZZ_CHECK(reloaded.load(copy));
    FUZZ_CHECK(reloaded.historyBase() == base);
    FUZZ_CHECK(reloaded.end() == loaded.end());
    FUZZ_CHECK(reloaded.keyCount() == loaded.keyCount());
    FUZZ_CHECK(pull(reloaded, base, newIndex) == history);
    return 0;
}

}  // namespace Fuzz

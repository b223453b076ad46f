#include "fuzz/ScratchFolder.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "fuzz/FuzzCheck.h"

namespace Fuzz {

namespace {

std::string makeFolder() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vsfuzzXXXXXX";
    char* made = mkdtemp(pattern.data());
    FUZZ_CHECK(made != nullptr);
    return std::string(made) + "/";
}

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
}

}  // namespace

const std::string& scratchFolder() {
    // Never destroyed: the exit handler that removes the folder runs after the
    // destructors of statics made before it was registered.
    static const std::string* folder = [] {
        auto* made = new std::string(makeFolder());
        std::atexit(removeFolder);
        return made;
    }();
    return *folder;
}

void writeScratchFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    if (!bytes.empty())
        FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    std::fclose(file);
}

void emptyScratchFolder() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratchFolder(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace Fuzz

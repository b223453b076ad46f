// Every seed input and every kept reproducer goes through its fuzz target in the normal
// build, so a fault the fuzzers once found cannot come back unnoticed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "tests/support/FileBytes.h"

namespace {

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    }
    return files;
}

size_t replay(const Fuzz::NamedTarget& target, const std::string& root) {
    size_t replayed = 0;
    for (const std::string& path : filesIn(root + "/" + target.name)) {
        SCOPED_TRACE(path);
        const std::string bytes = readBytes(path);
        // A broken invariant aborts the whole program, naming the check and this input.
        target.function(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++replayed;
    }
    return replayed;
}

}  // namespace

TEST(FuzzReplay, SeedCorporaPassEveryTarget) {
    for (const Fuzz::NamedTarget& target : Fuzz::kTargets) {
        SCOPED_TRACE(target.name);
        EXPECT_GT(replay(target, VS_FUZZ_CORPUS_DIR), 0u) << "no seed inputs";
    }
}

TEST(FuzzReplay, KeptReproducersPassEveryTarget) {
    size_t replayed = 0;
    for (const Fuzz::NamedTarget& target : Fuzz::kTargets)
        replayed += replay(target, VS_REPRODUCER_DIR);
    SUCCEED() << replayed << " reproducers replayed";
}

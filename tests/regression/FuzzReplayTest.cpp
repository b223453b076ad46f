// Every seed input and every input a fuzzer once failed on goes through its fuzz target
// in the sanitizer build, one test case per target, so a fault the fuzzers found cannot
// come back unnoticed. This program is the targets' driver outside libFuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "tests/support/FileBytes.h"

namespace Fuzz {
// Names the target in the test's listing instead of its bytes.
inline void PrintTo(const NamedTarget& target, std::ostream* out) {
    *out << target.name;
}
}  // namespace Fuzz

namespace {

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path().string());
    }
    return files;
}

size_t replay(const Fuzz::NamedTarget& target, const std::string& root) {
    size_t replayed = 0;
    for (const std::string& path : filesIn(root + "/" + target.name)) {
        // A broken invariant aborts the whole program, naming the check; this names the input.
        std::fprintf(stderr, "replaying %s\n", path.c_str());
        const std::string bytes = readBytes(path);
        target.function(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++replayed;
    }
    return replayed;
}

class FuzzReplay : public testing::TestWithParam<Fuzz::NamedTarget> {};

}  // namespace

TEST_P(FuzzReplay, SeedsAndKeptFailuresPass) {
    EXPECT_GT(replay(GetParam(), VS_FUZZ_CORPUS_DIR), 0u) << "no seed inputs";
    replay(GetParam(), VS_FUZZ_REGRESSION_DIR);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(Fuzz::kTargets),
                         [](const testing::TestParamInfo<Fuzz::NamedTarget>& info) {
                             return std::string(info.param.name);
                         });

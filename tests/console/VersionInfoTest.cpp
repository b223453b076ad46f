#include "apps/VantorSyncAdm/VersionInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include "apps/VantorSyncAdm/NumberText.h"
#include "tests/support/TempFolder.h"

namespace {

std::string ownProgram() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, n) : std::string();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(VersionInfoTest, ProgramFileCarriesItsVersionBlock) {
    EXPECT_EQ(loadVersionString(ownProgram(), "ProductVersion"), "1, 0, 0, 0");
    EXPECT_EQ(loadVersionString(ownProgram(), "FileDescription"), "VantorSync Console");
    EXPECT_EQ(loadVersionString(ownProgram(), "Comments"), "");
}

TEST(VersionInfoTest, FilesWithoutABlockOrCutShortGiveNothing) {
    TempFolder folder;
    EXPECT_EQ(loadVersionString(folder.file("missing"), "ProductVersion"), "");
    writeFile(folder.file("text"), "just text, not a program");
    EXPECT_EQ(loadVersionString(folder.file("text"), "ProductVersion"), "");

    std::ifstream program(ownProgram(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(program)), std::istreambuf_iterator<char>());
    for (size_t cut : {size_t{16}, size_t{64}, bytes.size() / 2, bytes.size() - 1}) {
        writeFile(folder.file("cut"), bytes.substr(0, cut));
        EXPECT_EQ(loadVersionString(folder.file("cut"), "ProductVersion"), "") << cut;
    }
}

TEST(VersionInfoTest, LookupOrderAndLeadingBlanks) {
    using VersionInfo::findValue;
    VersionInfo::Values values = {
        {"\\StringFileInfo\\040904E4\\A", "  from 1252"},
        {"\\StringFileInfo\\040904B0\\A", "from unicode"},
        {"\\StringFileInfo\\040904E4\\B", "   "},
        {"\\StringFileInfo\\040904B0\\B", "\t unicode b"},
        {"\\StringFileInfo\\04070000\\C", "  "},
        {"\\StringFileInfo\\040C04B0\\C", "french"},
        {"\\VarFileInfo\\Translation", "04070000 040C04B0"},
    };
    EXPECT_EQ(findValue(values, "A"), "from 1252");
    EXPECT_EQ(findValue(values, "B"), "unicode b");
    // A listed translation that exists ends the search, even when only blanks remain.
    EXPECT_EQ(findValue(values, "C"), "");
    values.erase("\\StringFileInfo\\04070000\\C");
    EXPECT_EQ(findValue(values, "C"), "french");
}

TEST(VersionInfoTest, BlockParsingStopsAtTheEndMarkerOrATruncatedPair) {
    std::string block("P\0v\0Q\0w\0\0R\0x\0", 13);
    EXPECT_EQ(VersionInfo::parseBlock(block), (VersionInfo::Values{{"P", "v"}, {"Q", "w"}}));
    EXPECT_EQ(VersionInfo::parseBlock(std::string("P\0v", 3)), VersionInfo::Values{});
}

TEST(NumberTextTest, LeadingNumbersAsTheControlsReadThem) {
    EXPECT_EQ(parseLeadingNumber(" 90x"), 90);
    EXPECT_EQ(parseLeadingNumber("abc"), 0);
    EXPECT_EQ(parseLeadingNumber(""), 0);
    EXPECT_EQ(parseLeadingNumber("\t-5"), -5);
    EXPECT_EQ(parseLeadingNumber("+7"), 7);
    EXPECT_EQ(parseLeadingNumber("- 7"), 0);
    EXPECT_EQ(parseLeadingNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(parseLeadingNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(parseLeadingNumber("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(formatNumber(-2147483647 - 1), "-2147483648");
    EXPECT_EQ(formatNumber(1000), "1000");
}

}  // namespace

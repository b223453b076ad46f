#include "apps/VantorSyncSvc/ManagementPayload.h"

#include <gtest/gtest.h>

TEST(ManagementPayloadTest, StatisticsAreTwoLittleEndianInt32) {
    EXPECT_EQ(encodeStatistics(0, 0), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(encodeStatistics(0x01020304, -2),
              (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01, 0xfe, 0xff, 0xff, 0xff}));
    EXPECT_EQ(encodeStatistics(INT32_MIN, INT32_MAX),
              (std::vector<uint8_t>{0, 0, 0, 0x80, 0xff, 0xff, 0xff, 0x7f}));
}

TEST(ManagementPayloadTest, Utf8CheckAcceptsPathsAndRejectsWhatTheBusWouldRefuse) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("/var/lib/VantorSyncSvc/"));
    EXPECT_TRUE(isValidUtf8("/home/j\xc3\xbcrgen/\xe2\x82\xac/\xf0\x9f\x98\x80/"));
    EXPECT_FALSE(isValidUtf8("/home/j\xfcrgen/"));  // Latin-1 byte
    EXPECT_FALSE(isValidUtf8("\xc3"));              // cut short
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xe2\x28\xa1"));      // bad continuation
}

#include "http/IOB.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using HTTPParser::IOB;

namespace {

// A buffer with a small limit, to reach the limit without allocating 100 MiB.
class SmallIOB : public IOB {
  public:
    explicit SmallIOB(uint32_t limit) : IOB(limit) {}
};

}  // namespace

TEST(IOB, GrowthByDoublingFromTen) {
    IOB five;
    ASSERT_TRUE(five.append("12345", 5));
    EXPECT_EQ(five.capacity(), 10u);

    IOB ten;
    ASSERT_TRUE(ten.append("0123456789", 10));
    EXPECT_EQ(ten.capacity(), 20u);  // 10 is not greater than the 11 needed

    IOB grown;
    grown.append("0123456789ABCDE", 15);
    EXPECT_EQ(grown.capacity(), 20u);
    grown.append("0123456789", 10);
    EXPECT_EQ(grown.capacity(), 40u);
    EXPECT_EQ(std::string(grown.chars()), "0123456789ABCDE0123456789");
}

TEST(IOB, ExactGrowthWithoutDoubling) {
    IOB exact;
    exact.setGrowthDoubling(false);
    exact.append("abc", 3);
    EXPECT_EQ(exact.capacity(), 4u);
    exact.append("de", 2);
    EXPECT_EQ(exact.capacity(), 6u);
}

TEST(IOB, ZeroByteFollowsData) {
    IOB buffer;
    buffer.append("abc", 3);
    buffer.appendByte('d');
    EXPECT_EQ(buffer.length(), 4u);
    EXPECT_EQ(buffer.data()[4], 0);
    EXPECT_STREQ(buffer.chars(), "abcd");
}

TEST(IOB, RefusedAppendsLeaveBufferUnchanged) {
    IOB buffer;
    buffer.append("abc", 3);
    EXPECT_FALSE(buffer.append("x", 0));
    EXPECT_FALSE(buffer.append(nullptr, 4, true));
    EXPECT_EQ(buffer.length(), 3u);
    EXPECT_EQ(buffer.capacity(), 10u);
    // Uninitialised room is allowed without a source.
    EXPECT_TRUE(buffer.append(nullptr, 4, false));
    EXPECT_EQ(buffer.length(), 7u);
}

TEST(IOB, LimitCountsTheZeroByte) {
    SmallIOB buffer(100);
    std::vector<char> bytes(100, 'x');
    EXPECT_FALSE(buffer.append(bytes.data(), 100));  // 101 with the zero byte
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_TRUE(buffer.append(bytes.data(), 99));
    EXPECT_EQ(buffer.capacity(), 100u);  // doubling past the limit takes exactly what is needed
    EXPECT_FALSE(buffer.appendByte('y'));
    EXPECT_EQ(buffer.length(), 99u);
    EXPECT_EQ(buffer.data()[99], 0);
}

TEST(IOB, DefaultLimitIsOneHundredMebibytes) {
    IOB buffer;
    EXPECT_EQ(buffer.lengthLimit(), 104857600u);
    EXPECT_FALSE(buffer.append(nullptr, 104857600u, false));
    EXPECT_FALSE(buffer.append(nullptr, 0xFFFFFFFFu, false));  // no wrap-around of the sum
    EXPECT_EQ(buffer.length(), 0u);
}

TEST(IOB, ClearKeepsBlockAndRegrowsFromTen) {
    IOB buffer;
    std::vector<char> big(5000, 'z');
    buffer.append(big.data(), 5000);
    buffer.clear();
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_EQ(buffer.capacity(), 0u);
    ASSERT_NE(buffer.data(), nullptr);
    EXPECT_EQ(buffer.data()[0], 0);
    ASSERT_TRUE(buffer.append("abc", 3));
    EXPECT_EQ(buffer.capacity(), 10u);
    EXPECT_STREQ(buffer.chars(), "abc");
}

TEST(IOB, AssignCopiesAndEmptySourceEmpties) {
    IOB source, target;
    source.append("hello", 5);
    target.append("old content", 11);
    target.assign(source);
    EXPECT_EQ(std::string(target.chars(), target.length()), "hello");
    IOB empty;
    target.assign(empty);
    EXPECT_EQ(target.length(), 0u);
}

TEST(IOB, SetLengthOnlyShortens) {
    IOB buffer;
    buffer.append("abcdef", 6);
    buffer.setLength(2);
    EXPECT_EQ(buffer.length(), 2u);
    buffer.setLength(5);
    EXPECT_EQ(buffer.length(), 2u);
}

TEST(IOB, LargeBlocksKeepTheirBytesAcrossGrowthClearAndMoves) {
    IOB buffer;
    std::string small(1000, 's');
    ASSERT_TRUE(buffer.append(small.data(), uint32_t(small.size())));
    // Past the mapped size: the bytes already there move along.
    std::string large(IOB::kMappedBlockSize * 3, 'L');
    ASSERT_TRUE(buffer.append(large.data(), uint32_t(large.size())));
    EXPECT_EQ(small + large, std::string(buffer.chars(), buffer.length()));
    EXPECT_EQ(0, buffer.data()[buffer.length()]);
    ASSERT_TRUE(buffer.append(large.data(), uint32_t(large.size())));
    EXPECT_EQ(small.size() + 2 * large.size(), buffer.length());

    IOB moved(std::move(buffer));
    EXPECT_EQ(nullptr, buffer.data());
    EXPECT_EQ('L', moved.chars()[moved.length() - 1]);
    // After clear the block shrinks back to small sizes without losing the zero byte.
    moved.clear();
    ASSERT_TRUE(moved.append("abc", 3));
    EXPECT_EQ("abc", std::string(moved.chars(), moved.length()));
    EXPECT_EQ(0, moved.data()[3]);
}

TEST(IOB, ReserveMakesRoomOnceAndRespectsTheLimit) {
    IOB buffer;
    ASSERT_TRUE(buffer.reserve(1 << 20));
    EXPECT_GE(buffer.capacity(), 1u << 20);
    uint32_t capacity = buffer.capacity();
    std::string piece(4096, 'r');
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(buffer.append(piece.data(), uint32_t(piece.size())));
    EXPECT_EQ(capacity, buffer.capacity());
    EXPECT_FALSE(buffer.reserve(IOB::kDefaultLengthLimit + 1));
    EXPECT_EQ(200u * 4096, buffer.length());
}

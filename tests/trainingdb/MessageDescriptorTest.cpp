#include "storage/MessageDescriptor.h"

#include <gtest/gtest.h>

#include "storage/AnalysisIOB.h"
#include "tests/trainingdb/RecordBytes.h"

TEST(MessageDescriptor, ParsesConsecutiveRecordsAndEncodesThemBack) {
    HTTPParser::IOB body;
    const std::string first = record(7, 55, {1, -2, 0x0102030405060708});
    const std::string second = record(0xffffffff, -1, {});
    fill(body, first + second);

    MessageDescriptor descriptor;
    uint32_t cursor = 0;
    ASSERT_TRUE(descriptor.parse(body, cursor));
    EXPECT_EQ(cursor, 36u);
    EXPECT_EQ(descriptor.label, 7u);
    EXPECT_EQ(descriptor.status, 55);
    EXPECT_EQ(descriptor.values, (std::vector<int64_t>{1, -2, 0x0102030405060708}));
    EXPECT_EQ(descriptor.fingerprint, 1 ^ -2 ^ 0x0102030405060708);
    std::string encoded;
    descriptor.encode(encoded);
    EXPECT_EQ(encoded, first);

    ASSERT_TRUE(descriptor.parse(body, cursor));
    EXPECT_EQ(cursor, 48u);
    EXPECT_EQ(descriptor.label, 0xffffffffu);
    EXPECT_TRUE(descriptor.values.empty());
    EXPECT_EQ(descriptor.fingerprint, 0);
    EXPECT_FALSE(descriptor.parse(body, cursor));
    EXPECT_EQ(cursor, 48u);
}

TEST(MessageDescriptor, RefusesRecordsThatDoNotFitOrCountTooMany) {
    HTTPParser::IOB body;
    MessageDescriptor descriptor;
    const std::string whole = record(1, 1, {10, 20});

    for (size_t cut : {size_t(5), size_t(11), size_t(12), size_t(27)}) {
        fill(body, whole.substr(0, cut));
        uint32_t cursor = 0;
        EXPECT_FALSE(descriptor.parse(body, cursor)) << cut;
        EXPECT_EQ(cursor, 0u);
    }

    // A count of 10001 fails even when the body seems to hold that many values.
    std::string tooMany = le32(1) + le32(1) + le32(10001) + std::string(8 * 10001, '\0');
    Analysis::IOB large;
    fill(large, tooMany);
    uint32_t cursor = 0;
    EXPECT_FALSE(descriptor.parse(large, cursor));

    // A count near 2^32 must not wrap the bounds check.
    fill(body, le32(1) + le32(1) + le32(0xffffffff) + le64(3));
    cursor = 0;
    EXPECT_FALSE(descriptor.parse(body, cursor));

    std::string exactlyMax = le32(1) + le32(1) + le32(10000) + std::string(8 * 10000, '\x01');
    fill(large, exactlyMax);
    cursor = 0;
    EXPECT_TRUE(descriptor.parse(large, cursor));
    EXPECT_EQ(descriptor.values.size(), 10000u);
}

TEST(MessageDescriptor, MatchesBySetInclusionIgnoringOrderAndRepetition) {
    MessageDescriptor a, b;
    for (int64_t v : {3, 1, 2})
        a.addValue(v);
    for (int64_t v : {2, 3, 1})
        b.addValue(v);
    EXPECT_TRUE(a.matches(b));

    MessageDescriptor repeated;
    for (int64_t v : {1, 1, 2})
        repeated.addValue(v);
    EXPECT_TRUE(repeated.matches(a));   // every value of the first occurs in the second
    EXPECT_FALSE(a.matches(repeated));  // 3 does not occur in {1, 1, 2}

    MessageDescriptor shorter;
    for (int64_t v : {1, 2})
        shorter.addValue(v);
    EXPECT_FALSE(shorter.matches(a));
    EXPECT_FALSE(a.matches(shorter));
}

TEST(AnalysisIOB, HoldsMoreThanTheHttpLimitButKeepsTheBufferRules) {
    Analysis::IOB buffer;
    EXPECT_EQ(buffer.lengthLimit(), 1073741824u);
    EXPECT_GT(buffer.lengthLimit(), HTTPParser::IOB().lengthLimit());
    ASSERT_TRUE(buffer.append("abc", 3));
    EXPECT_EQ(buffer.chars()[3], '\0');
    EXPECT_FALSE(buffer.append(nullptr, 1073741824u, false));
    EXPECT_EQ(buffer.length(), 3u);
}

#include "http/Header.h"

#include <gtest/gtest.h>

using HTTPParser::Header;

TEST(Header, FindIgnoresCase) {
    Header header;
    header.add("Content-Length", "12");
    for (const char* name : {"content-length", "CONTENT-LENGTH", "Content-Length"}) {
        ASSERT_NE(header.find(name), nullptr) << name;
        EXPECT_EQ(header.find(name)->value, "12");
    }
    EXPECT_EQ(header.find("Content-Type"), nullptr);
}

TEST(Header, DuplicatesFirstWinsAndRemoveTakesAll) {
    Header header;
    header.add("X-A", "1");
    header.add("Other", "o");
    header.add("x-a", "2");
    EXPECT_EQ(header.find("X-A")->value, "1");
    header.remove("X-a");
    EXPECT_EQ(header.find("x-a"), nullptr);
    EXPECT_EQ(header.serialize(), "Other: o\r\n");
}

TEST(Header, AtFrontIsWrittenFirstButFoundSecond) {
    Header header;
    header.add("Name", "first");
    header.add("Name", "front", true);
    EXPECT_EQ(header.serialize(), "Name: front\r\nName: first\r\n");
    EXPECT_EQ(header.find("name")->value, "first");
    // assign rebuilds the index in list order.
    Header copy;
    copy.assign(header);
    EXPECT_EQ(copy.find("name")->value, "front");
}

TEST(Header, ParseLineRules) {
    Header header;
    EXPECT_TRUE(header.parseLine(""));
    EXPECT_EQ(header.size(), 0u);
    // Continuation before any field is an ordinary line, refused without a colon.
    EXPECT_FALSE(header.parseLine(" folded"));
    EXPECT_FALSE(header.parseLine(":value"));
    EXPECT_FALSE(header.parseLine("no colon"));
    ASSERT_TRUE(header.parseLine("Host:  \texample  "));
    EXPECT_EQ(header.find("host")->value, "example  ");
    EXPECT_EQ(header.find("host")->getValue(), "example");
    // A blank before the colon stays part of the name.
    ASSERT_TRUE(header.parseLine("Spaced : v"));
    EXPECT_EQ(header.find("Spaced"), nullptr);
    EXPECT_NE(header.find("spaced "), nullptr);
}

TEST(Header, ContinuationLinesJoinOnRead) {
    Header header;
    ASSERT_TRUE(header.parseLine("Folded: a"));
    ASSERT_TRUE(header.parseLine(" b"));
    EXPECT_EQ(header.find("folded")->value, "a\r\n b");
    EXPECT_EQ(header.find("folded")->getValue(), "a b");
}

TEST(Header, GetValueKeepsLoneCrAndLf) {
    HTTPParser::HeaderField field{"n", " \r\n x\ry\nz\r\n\t "};
    EXPECT_EQ(field.getValue(), "x\ry\nz");
}

TEST(Header, SerializeEmptyAndClear) {
    Header header;
    EXPECT_EQ(header.serialize(), "");
    header.add("A", "1");
    header.clear();
    EXPECT_EQ(header.find("a"), nullptr);
    EXPECT_EQ(header.serialize(), "");
}

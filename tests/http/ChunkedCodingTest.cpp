#include "http/ChunkedCoding.h"

#include <gtest/gtest.h>

#include <string>

using namespace HTTPParser;

namespace {

std::string text(const IOB& buffer) {
    return std::string(buffer.chars(), buffer.length());
}

int decode(const std::string& data, IOB* out = nullptr) {
    return decodeChunked(data.data(), static_cast<int>(data.size()), out);
}

}  // namespace

TEST(ChunkedCoding, DecodesChunksUpToTheLastChunk) {
    IOB out;
    EXPECT_EQ(kChunkComplete, decode("5\r\nhello\r\n0\r\n\r\n", &out));
    EXPECT_EQ("hello", text(out));

    IOB withExtensions;
    EXPECT_EQ(kChunkComplete,
              decode("3;name=v\r\nabc\r\n A\r\n0123456789\r\n0\r\n", &withExtensions));
    EXPECT_EQ("abc0123456789", text(withExtensions));
}

TEST(ChunkedCoding, EveryPrefixOfABodyIsIncomplete) {
    const std::string body = "5\r\nhello\r\n10\r\n0123456789abcdef\r\n0\r\n";
    for (size_t n = 0; n < body.size(); ++n) {
        int result = decode(body.substr(0, n));
        EXPECT_TRUE(result == kChunkIncompleteData || result == kChunkIncompleteLine) << n;
    }
    EXPECT_EQ(kChunkComplete, decode(body));
}

TEST(ChunkedCoding, NegativeAndOversizedSizesAreMalformed) {
    EXPECT_EQ(kChunkMalformed, decode("-5\r\nhello\r\n0\r\n\r\n"));
    EXPECT_EQ(kChunkMalformed, decode("5\r\nhello\r\n-1\r\n\r\n"));
    EXPECT_EQ(kChunkMalformed, decode("ffffffffffffffffffff\r\nx\r\n"));
    EXPECT_EQ(kChunkMalformed, decode("7fffffff\r\nx\r\n"));
}

TEST(ChunkedCoding, SizeLinesOtherReadersCouldTakeDifferentlyAreMalformed) {
    // Without digits: once read as the last chunk, letting the rest pass as a new request.
    EXPECT_EQ(kChunkMalformed, decode("zz\r\n"));
    EXPECT_EQ(kChunkMalformed, decode("\r\n"));
    EXPECT_EQ(kChunkMalformed, decode("5x\r\nhello\r\n0\r\n\r\n"));
    // Chunk data must end with its line break.
    EXPECT_EQ(kChunkMalformed, decode("5\r\nhelloXX0\r\n\r\n"));
    // A size line that never ends is not waited for.
    EXPECT_EQ(kChunkMalformed, decode("1;" + std::string(kMaxChunkLineLength + 1, 'a')));
    // Blanks, an extension and bare line feeds are fine.
    IOB out;
    EXPECT_EQ(kChunkComplete, decode("5 ;ext=1\r\nhello\n0\n\r\n", &out));
    EXPECT_EQ("hello", text(out));
}

TEST(ChunkedCoding, ResumedScanNeitherRepeatsNorSkipsChunks) {
    const std::string body = "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n";
    IOB whole;
    uint32_t position = 0;
    // Feed growing prefixes, as bytes arrive; every chunk must be taken exactly once.
    for (uint32_t n = 1; n <= body.size(); ++n) {
        int result = scanChunked(body.data(), n, &position, &whole);
        ASSERT_LE(position, n);
        if (result == kChunkComplete)
            break;
    }
    EXPECT_EQ("abcdefg", text(whole));
    EXPECT_EQ(body.size() - 2, position);  // behind the last chunk's line
}

TEST(ChunkedCoding, TrailerEndIsTheFirstEmptyLine) {
    const std::string rest = "0\r\nX-Sum: 1\r\n\r\nNEXT";
    uint32_t end = 0;
    uint32_t position = 3;
    EXPECT_FALSE(findTrailerEnd(rest.data(), 14, &position, &end));
    // Resumed behind the whole line already seen, not from the start.
    EXPECT_EQ(13u, position);
    EXPECT_TRUE(findTrailerEnd(rest.data(), rest.size(), &position, &end));
    EXPECT_EQ(rest.size() - 4, end);
}

TEST(ChunkedCoding, EncodesIn256ByteChunksAndRoundTrips) {
    IOB body;
    std::string original;
    for (int i = 0; i < 600; ++i)
        original.push_back(static_cast<char>('a' + i % 26));
    body.append(original.data(), original.size());
    IOB encoded;
    ASSERT_TRUE(encodeChunked(body, encoded));
    std::string wire = text(encoded);
    EXPECT_EQ(0u, wire.find("100\r\n"));
    EXPECT_NE(std::string::npos, wire.find("\r\n58\r\n"));
    EXPECT_EQ("\r\n0\r\n\r\n", wire.substr(wire.size() - 7));

    IOB decoded;
    EXPECT_EQ(kChunkComplete, decode(wire, &decoded));
    EXPECT_EQ(original, text(decoded));

    IOB empty, emptyEncoded;
    ASSERT_TRUE(encodeChunked(empty, emptyEncoded));
    EXPECT_EQ("0\r\n\r\n", text(emptyEncoded));
}

#include "http/HTTPRequestReader.h"

#include <gtest/gtest.h>

#include <string>

using namespace HTTPParser;

namespace {

std::string text(const IOB& buffer) {
    return std::string(buffer.chars(), buffer.length());
}

void feed(HTTPRequestReader& reader, const std::string& data) {
    reader.feed(data.data(), static_cast<int>(data.size()));
}

std::string bodyOf(const HTTPRequestReader& reader) {
    HTTPRequest request;
    EXPECT_TRUE(reader.buildRequest(request));
    return text(request.getBody());
}

}  // namespace

TEST(HTTPRequestReader, GetIsCompleteAtTheEndOfTheHead) {
    HTTPRequestReader reader;
    feed(reader, "GET /version HTTP/1.1\r\nHost: x\r\n");
    EXPECT_EQ(HTTPRequestReader::Head, reader.state());
    feed(reader, "\r\n");
    ASSERT_TRUE(reader.isComplete());
    HTTPRequest request;
    ASSERT_TRUE(reader.buildRequest(request));
    EXPECT_EQ("/version", request.getPath());
    EXPECT_EQ("x", request.headers().find("host")->value);
    EXPECT_EQ(0u, request.getBody().length());
}

TEST(HTTPRequestReader, BodyIsExactlyContentLengthBytes) {
    HTTPRequestReader reader;
    feed(reader, "POST /p HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123");
    EXPECT_EQ(HTTPRequestReader::Body, reader.state());
    feed(reader, "456789GET /next HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(reader.isComplete());
    EXPECT_EQ("0123456789", bodyOf(reader));

    // The bytes behind the body are the next request, complete without new input.
    reader.nextRequest();
    ASSERT_TRUE(reader.isComplete());
    HTTPRequest next;
    ASSERT_TRUE(reader.buildRequest(next));
    EXPECT_EQ("/next", next.getPath());
    reader.nextRequest();
    EXPECT_EQ(HTTPRequestReader::Idle, reader.state());
    EXPECT_EQ(0u, reader.bufferedLength());
}

TEST(HTTPRequestReader, ByteByByteFeedingGivesTheSameRequests) {
    const std::string stream =
        "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
        "4\r\nabcd\r\n3;x=y\r\nefg\r\n0\r\nTrailer: t\r\n\r\n"
        "POST /b HTTP/1.1\r\nContent-Length: 3\r\n\r\nxyz"
        "GET /c HTTP/1.1\r\n\r\n";
    HTTPRequestReader reader;
    std::vector<std::string> seen;
    for (char c : stream) {
        reader.feed(&c, 1);
        while (reader.isComplete()) {
            HTTPRequest request;
            ASSERT_TRUE(reader.buildRequest(request));
            seen.push_back(request.getPath() + "=" + text(request.getBody()));
            reader.nextRequest();
        }
        ASSERT_FALSE(reader.isFailed());
    }
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("/a=abcdefg", seen[0]);
    EXPECT_EQ("/b=xyz", seen[1]);
    EXPECT_EQ("/c=", seen[2]);
}

TEST(HTTPRequestReader, ChunkedBodyWaitsForTheLastChunkAndItsEmptyLine) {
    HTTPRequestReader reader;
    feed(reader, "POST /p HTTP/1.1\r\nTransfer-Encoding: CHUNKED\r\n\r\n5\r\nhello\r\n");
    EXPECT_FALSE(reader.isComplete());
    feed(reader, "0\r\n");
    EXPECT_FALSE(reader.isComplete());
    feed(reader, "\r\n");
    ASSERT_TRUE(reader.isComplete());
    EXPECT_EQ("hello", bodyOf(reader));
}

TEST(HTTPRequestReader, RequestsThatCanNeverCompleteFail) {
    HTTPRequestReader negativeChunk;
    feed(negativeChunk, "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n-10\r\n");
    EXPECT_TRUE(negativeChunk.isFailed());

    HTTPRequestReader hugeChunk;
    feed(hugeChunk, "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nffffffffff\r\n");
    EXPECT_TRUE(hugeChunk.isFailed());

    HTTPRequestReader hugeLength;
    feed(hugeLength, "POST /p HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n");
    EXPECT_TRUE(hugeLength.isFailed());

    HTTPRequestReader endlessHead;
    std::string line = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    feed(endlessHead, "GET / HTTP/1.1\r\n");
    for (int i = 0; i < 1100 && !endlessHead.isFailed(); ++i)
        feed(endlessHead, line);
    EXPECT_TRUE(endlessHead.isFailed());

    // Failure is final until reset.
    feed(endlessHead, "\r\n\r\n");
    EXPECT_TRUE(endlessHead.isFailed());
    endlessHead.reset();
    feed(endlessHead, "GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(endlessHead.isComplete());
}

TEST(HTTPRequestReader, UnreadableOrNegativeContentLengthMeansNoBody) {
    for (const char* value : {"abc", "-5", "0", ""}) {
        HTTPRequestReader reader;
        feed(reader, std::string("POST /p HTTP/1.1\r\nContent-Length: ") + value + "\r\n\r\n");
        EXPECT_TRUE(reader.isComplete()) << value;
    }
}

TEST(HTTPRequestReader, ContinueIsRequestedOnlyWhileTheBodyIsMissing) {
    HTTPRequestReader waiting;
    feed(waiting, "POST /p HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 4\r\n\r\n");
    EXPECT_TRUE(waiting.takeContinueRequest());
    EXPECT_FALSE(waiting.takeContinueRequest());
    feed(waiting, "body");
    EXPECT_TRUE(waiting.isComplete());

    HTTPRequestReader bodyAlreadyThere;
    feed(bodyAlreadyThere,
         "POST /p HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\nbody");
    EXPECT_FALSE(bodyAlreadyThere.takeContinueRequest());
}

TEST(HTTPRequestReader, BlockGrownForALargeBodyIsGivenBackAfterTheRequest) {
    HTTPRequestReader reader;
    std::string body(1 << 20, 'b');
    feed(reader,
         "POST /x HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(reader.isComplete());
    EXPECT_TRUE(reader.holdsBlock());
    reader.nextRequest();
    EXPECT_FALSE(reader.holdsBlock());
    // The next request on the connection still works.
    feed(reader, "GET /version HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(reader.isComplete());
}

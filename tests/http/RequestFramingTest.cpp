// Framing a reader must refuse or accept, the per-request caps, and the budget
// that buffer growth is charged to.
#include <gtest/gtest.h>

#include <string>

#include "http/BufferBudget.h"
#include "http/HTTPRequestReader.h"

using namespace HTTPParser;
using namespace std::string_literals;

namespace {

void feed(HTTPRequestReader& reader, const std::string& data) {
    reader.feed(data.data(), static_cast<int>(data.size()));
}

HTTPRequestReader::State stateAfter(const std::string& data) {
    HTTPRequestReader reader;
    feed(reader, data);
    return reader.state();
}

std::string bodyOf(const HTTPRequestReader& reader) {
    HTTPRequest request;
    EXPECT_TRUE(reader.buildRequest(request));
    return std::string(request.getBody().chars(), request.getBody().length());
}

}  // namespace

TEST(RequestFraming, AmbiguousBodyFramingFails) {
    const char* heads[] = {
        // Two lengths: which one ends the body?
        "POST /p HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
        "POST /p HTTP/1.1\r\nContent-Length: 5, 6\r\n\r\n",
        // Length and chunked together.
        "POST /p HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
        // A last coding other than chunked leaves the body's end unknown.
        "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked, gzip\r\n\r\n",
        "POST /p HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n",
        "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: identity\r\n\r\n",
        "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked, chunked\r\n\r\n",
        "POST /p HTTP/1.1\r\nTransfer-Encoding: \r\n\r\n",
        // A chunk-size line without digits.
        "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nGET /smuggled "
        "HTTP/1.1\r\n\r\n",
    };
    for (const char* head : heads)
        EXPECT_EQ(HTTPRequestReader::Failed, stateAfter(head)) << head;
}

TEST(RequestFraming, FieldLinesReadersCouldSplitDifferentlyAreRejected) {
    // Each would hide "Content-Length: 5" from this reader, or show it where a proxy
    // does not, and with it the request behind the body.
    const std::string heads[] = {
        "POST /p HTTP/1.1\r\nContent-Length : 5\r\n\r\n",
        "POST /p HTTP/1.1\r\nX: a\rContent-Length: 5\r\n\r\n",
        "POST /p HTTP/1.1\r\nX: a\r\nContent-Length: 5\r\r\n\r\n",
        "POST /p HTTP/1.1\r\nX\0Y: a\r\nContent-Length: 5\r\n\r\n"s,
        "POST /p HTTP/1.1\r\nX: a\0\r\nContent-Length: 5\r\n\r\n"s,
        "POST /p HTTP/1.1\r\nno colon here\r\nContent-Length: 5\r\n\r\n",
        "POST /p HTTP/1.1\r\n Content-Length: 5\r\n\r\n",
        "POST /p HTTP/1.1\r\n: 5\r\n\r\n",
        "POST /p HTTP/1.1\r\nContent-Length\t: 5\r\n\r\n",
    };
    for (const std::string& head : heads) {
        EXPECT_EQ(HTTPRequestReader::Rejected, stateAfter(head + "GET /smuggled HTTP/1.1\r\n\r\n"))
            << head;
    }
    // Folded values, tabs and bytes above 0x7f in a value, and bare LF line ends are read.
    HTTPRequestReader reader;
    feed(reader, "POST /p HTTP/1.1\nX-A: a\r\n\tb\nX-B: \t\xe4\r\nContent-Length: 2\r\n\r\nok");
    ASSERT_TRUE(reader.isComplete());
    EXPECT_EQ("ok", bodyOf(reader));
}

TEST(RequestFraming, UnambiguousFramingIsRead) {
    // Repeats of one length are one length.
    HTTPRequestReader same;
    feed(same, "POST /p HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\nabc");
    ASSERT_TRUE(same.isComplete());
    EXPECT_EQ("abc", bodyOf(same));

    // Blanks around the coding and codings before the final chunked are fine.
    for (const char* coding : {"chunked ", " Chunked\t", "gzip, chunked"}) {
        HTTPRequestReader reader;
        feed(reader, std::string("POST /p HTTP/1.1\r\nTransfer-Encoding: ") + coding +
                         "\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
        ASSERT_TRUE(reader.isComplete()) << coding;
        EXPECT_EQ("abc", bodyOf(reader)) << coding;
    }
}

TEST(RequestFraming, HeadEndingInBareLineFeedsCompletes) {
    HTTPRequestReader reader;
    feed(reader, "\r\n\nPOST /version HTTP/1.1\nHost: x\nContent-Length: 2\n");
    EXPECT_EQ(HTTPRequestReader::Head, reader.state());
    feed(reader, "\nok");
    ASSERT_TRUE(reader.isComplete());
    HTTPRequest request;
    ASSERT_TRUE(reader.buildRequest(request));
    EXPECT_EQ("/version", request.getPath());
    EXPECT_EQ("x", request.headers().find("Host")->value);
    EXPECT_EQ("ok", std::string(request.getBody().chars(), request.getBody().length()));

    // Mixed line ends, the empty line split across two pieces.
    HTTPRequestReader mixed;
    feed(mixed, "GET /v HTTP/1.1\r\nA: 1\n\r");
    EXPECT_FALSE(mixed.isComplete());
    feed(mixed, "\n");
    EXPECT_TRUE(mixed.isComplete());
}

TEST(RequestFraming, HeaderFieldsAreCapped) {
    auto headWith = [](int fields) {
        std::string head = "GET /v HTTP/1.1\r\n";
        for (int i = 0; i < fields; ++i)
            head += "a:\r\n";
        return head + "\r\n";
    };
    HTTPRequestReader atCap;
    atCap.setLimits(10, nullptr);
    feed(atCap, headWith(10));
    EXPECT_TRUE(atCap.isComplete());

    HTTPRequestReader overCap;
    overCap.setLimits(10, nullptr);
    feed(overCap, headWith(11));
    EXPECT_TRUE(overCap.isFailed());

    // The default cap refuses a head of thousands of tiny fields.
    EXPECT_EQ(HTTPRequestReader::Failed, stateAfter(headWith(10000)));
}

TEST(RequestFraming, EndlessTrailerFails) {
    HTTPRequestReader reader;
    feed(reader, "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n");
    std::string line = "T: " + std::string(1000, 't') + "\r\n";
    for (int i = 0; i < 100 && !reader.isFailed(); ++i)
        feed(reader, line);
    EXPECT_TRUE(reader.isFailed());

    // A trailer that arrives piece by piece still completes the request.
    HTTPRequestReader pieces;
    feed(pieces, "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\nT: 1");
    feed(pieces, "\r\nU: 2\r\n");
    EXPECT_FALSE(pieces.isComplete());
    feed(pieces, "\r\nGET /next HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(pieces.isComplete());
    EXPECT_EQ("x", bodyOf(pieces));
    pieces.nextRequest();
    EXPECT_TRUE(pieces.isComplete());
}

TEST(RequestFraming, LargeRequestsAreChargedToTheBudgetAndRefusedPastIt) {
    BufferBudget budget(1024 * 1024);
    std::string body(600 * 1024, 'b');
    std::string head =
        "POST /p HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";

    HTTPRequestReader first;
    first.setLimits(100, &budget);
    feed(first, head);
    // The whole declared body is claimed on the head alone.
    EXPECT_EQ(HTTPRequestReader::Body, first.state());
    EXPECT_GE(budget.used(), body.size() - HTTPRequestReader::kFreeAllowance);

    HTTPRequestReader second;
    second.setLimits(100, &budget);
    feed(second, head);
    EXPECT_TRUE(second.isRefused());

    // Small requests stay within every connection's own allowance.
    HTTPRequestReader small;
    small.setLimits(100, &budget);
    feed(small, "POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_TRUE(small.isComplete());

    // The first transfer finishes, and its bytes go back to the budget.
    feed(first, body);
    ASSERT_TRUE(first.isComplete());
    EXPECT_EQ(body, bodyOf(first));
    first.nextRequest();
    second.reset();
    EXPECT_EQ(0u, budget.used());
    EXPECT_FALSE(first.holdsBlock());
}

TEST(RequestFraming, HeadAndBodyPastTheBudgetInOneReadAreRefused) {
    // Refused, not failed: the client is owed the failure answer before the close.
    BufferBudget budget(64 * 1024);
    std::string body(200 * 1024, 'b');
    HTTPRequestReader reader;
    reader.setLimits(100, &budget);
    feed(reader,
         "POST /p HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(reader.isRefused());
}

TEST(RequestFraming, ChunkedGrowthPastTheBudgetIsRefused) {
    BufferBudget budget(64 * 1024);
    HTTPRequestReader reader;
    reader.setLimits(100, &budget);
    feed(reader, "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    std::string chunk = "1000\r\n" + std::string(0x1000, 'c') + "\r\n";
    for (int i = 0; i < 100 && reader.state() == HTTPRequestReader::Body; ++i)
        feed(reader, chunk);
    EXPECT_TRUE(reader.isRefused());
    EXPECT_LE(budget.used(), budget.limit());
    reader.reset();
    EXPECT_EQ(0u, budget.used());
}

TEST(BufferBudgetDeathTest, ReleasingMoreThanWasChargedIsCaught) {
    BufferBudget budget(100);
    budget.charge(10);
    budget.release(4);
    EXPECT_EQ(6u, budget.used());
    EXPECT_DEBUG_DEATH(budget.release(7), "released more than was charged");
}

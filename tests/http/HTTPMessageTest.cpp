#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"

using namespace HTTPParser;

namespace {

std::string text(const IOB& buffer) {
    return std::string(buffer.chars(), buffer.length());
}

IOB bytes(const std::string& content) {
    IOB buffer;
    if (!content.empty())
        buffer.append(content.data(), content.size());
    return buffer;
}

// Compresses with the given window bits: 15 for the zlib stream, -15 for raw
// deflate, 31 for the gzip file format. finish=false leaves the stream unfinished.
std::string deflateText(const std::string& input, int windowBits, bool finish = true) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(input.size() + 1024);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = input.size();
    stream.next_out = out.data();
    stream.avail_out = out.size();
    deflate(&stream, finish ? Z_FINISH : Z_SYNC_FLUSH);
    std::string result(reinterpret_cast<char*>(out.data()), stream.total_out);
    deflateEnd(&stream);
    return result;
}

std::string encodedMessage(const std::string& body) {
    return "POST /x HTTP/1.1\r\nContent-Encoding: deflate\r\n\r\n" + body;
}

}  // namespace

TEST(HTTPRequest, SplitsTheRequestLine) {
    HTTPRequest request;
    EXPECT_EQ("GET", request.getMethod());
    request.setFirstLine("POST /get_wl_updates?startIndex=3 HTTP/1.1");
    EXPECT_EQ("POST", request.getMethod());
    EXPECT_EQ("/get_wl_updates", request.getPath());

    HTTPRequest noBlank;
    noBlank.setFirstLine("garbage");
    EXPECT_EQ("GET", noBlank.getMethod());
    EXPECT_EQ("", noBlank.getPath());

    HTTPRequest noVersion;
    noVersion.setFirstLine("PUT /x");
    EXPECT_EQ("PUT", noVersion.getMethod());
    EXPECT_EQ("", noVersion.getPath());
}

TEST(HTTPRequest, PathIsPercentDecoded) {
    HTTPRequest request;
    request.setFirstLine("GET /a%2Fb%2fc+d%zz%4 HTTP/1.1");
    EXPECT_EQ("/a/b/c d%zz%4", request.getPath());
    request.setFirstLine("GET /%76ersion?%41 HTTP/1.1");
    EXPECT_EQ("/version", request.getPath());
    request.setFirstLine("GET /x%00y HTTP/1.1");
    EXPECT_EQ(std::string("/x\0y", 4), request.getPath());
}

TEST(HTTPResponse, StatusCodeComesFromTheStatusLine) {
    HTTPResponse response;
    response.setFirstLine("HTTP/1.1 500 Request failed");
    EXPECT_EQ(500, response.getStatusCode());
    response.setFirstLine("HTTP/1.1");
    EXPECT_EQ(0, response.getStatusCode());
    response.setFirstLine("HTTP/1.1 ");
    EXPECT_EQ(0, response.getStatusCode());
    response.setFirstLine("HTTP/1.1 99999999999999 x");
    EXPECT_GT(response.getStatusCode(), 0);
}

TEST(HTTPObject, ContentLengthFollowsTheBodyBehindTheHandlersFields) {
    HTTPResponse response;
    response.setFirstLine("HTTP/1.1 200 OK");
    response.add("Content-Length", "0");
    response.add("newIndex", "7");
    IOB out;
    ASSERT_TRUE(response.serialize(out));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nnewIndex: 7\r\n\r\n", text(out));

    response.getBody().append("1.0", 3);
    ASSERT_TRUE(response.serialize(out));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nnewIndex: 7\r\nContent-Length: 3\r\n\r\n1.0", text(out));

    HTTPResponse withoutField;
    withoutField.setFirstLine("HTTP/1.1 200 OK");
    withoutField.getBody().append("abc", 3);
    ASSERT_TRUE(withoutField.serialize(out));
    EXPECT_EQ("HTTP/1.1 200 OK\r\n\r\nabc", text(out));
}

TEST(HTTPObject, ChunkedMessageKeepsItsFieldsAndRoundTrips) {
    HTTPResponse response;
    response.setFirstLine("HTTP/1.1 200 OK");
    response.add("Transfer-Encoding", "Chunked");
    response.add("Content-Length", "0");
    std::string body(300, 'z');
    response.getBody().append(body.data(), body.size());
    IOB out;
    ASSERT_TRUE(response.serialize(out));
    EXPECT_NE(std::string::npos, text(out).find("Content-Length: 0\r\n\r\n100\r\n"));

    HTTPResponse parsed;
    ASSERT_TRUE(parsed.parse(out));
    EXPECT_TRUE(parsed.isChunked());
    EXPECT_EQ(body, text(parsed.getBody()));
}

TEST(HTTPObject, DeflateCodingIsWrittenAsZlibStreamNamedGzip) {
    HTTPResponse response;
    response.setFirstLine("HTTP/1.1 200 OK");
    response.add("Content-Encoding", "DEFLATE");
    response.add("Content-Length", "0");
    std::string body(5000, 'q');
    response.getBody().append(body.data(), body.size());
    IOB out;
    ASSERT_TRUE(response.serialize(out));
    std::string wire = text(out);
    size_t bodyStart = wire.find("\r\n\r\n") + 4;
    std::string compressed = wire.substr(bodyStart);
    EXPECT_NE(std::string::npos, wire.find("Content-Encoding: gzip\r\n"));
    EXPECT_EQ(std::string::npos, wire.find("DEFLATE"));
    EXPECT_NE(std::string::npos,
              wire.find("Content-Length: " + std::to_string(compressed.size()) + "\r\n"));

    std::vector<Bytef> plain(body.size());
    uLongf plainLength = plain.size();
    ASSERT_EQ(Z_OK,
              uncompress(plain.data(), &plainLength,
                         reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()));
    EXPECT_EQ(body, std::string(reinterpret_cast<char*>(plain.data()), plainLength));

    HTTPResponse parsed;
    ASSERT_TRUE(parsed.parse(out));
    EXPECT_EQ(body, text(parsed.getBody()));
}

TEST(HTTPObject, EmptyBodyWithCodingIsSentPlain) {
    HTTPResponse response;
    response.setFirstLine("HTTP/1.1 200 OK");
    response.add("Content-Encoding", "gzip");
    IOB out;
    ASSERT_TRUE(response.serialize(out));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n", text(out));
}

TEST(HTTPObject, ParseInflatesZlibStreamAndRawDeflate) {
    const std::string plain = "the quick brown fox jumps over the lazy dog, again and again";
    for (int windowBits : {15, -15}) {
        HTTPRequest request;
        ASSERT_TRUE(request.parse(bytes(encodedMessage(deflateText(plain, windowBits)))));
        EXPECT_EQ(plain, text(request.getBody())) << windowBits;
        EXPECT_EQ(nullptr, request.headers().find("decode_failed"));
    }
}

TEST(HTTPObject, ParseTakesAllOutputOfAStreamFarLargerThanItsInput) {
    // Highly compressible and without the end of the stream: the first output room
    // fills up completely with input already consumed.
    std::string plain(100000, 'a');
    HTTPRequest request;
    ASSERT_TRUE(request.parse(bytes(encodedMessage(deflateText(plain, 15, false)))));
    EXPECT_EQ(plain.size(), request.getBody().length());
    EXPECT_EQ(nullptr, request.headers().find("decode_failed"));
}

TEST(HTTPObject, UndecodableBodyIsKeptAndMarkedThenSentUnchanged) {
    for (const std::string& body :
         {std::string("not compressed at all"), deflateText("gzip file format", 31)}) {
        HTTPRequest request;
        ASSERT_TRUE(request.parse(bytes(encodedMessage(body))));
        EXPECT_EQ(body, text(request.getBody()));
        ASSERT_NE(nullptr, request.headers().find("decode_failed"));
        EXPECT_EQ("1", request.headers().find("decode_failed")->value);

        IOB out;
        ASSERT_TRUE(request.serialize(out));
        EXPECT_EQ("POST /x HTTP/1.1\r\nContent-Encoding: deflate\r\n\r\n" + body, text(out));
    }
}

TEST(HTTPObject, InflateOfAHostileBodyStopsAtTheBufferLimit) {
    // About 200 KB that would inflate to 300 MB.
    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    std::vector<unsigned char> zeros(1 << 20, 0);
    std::string bomb;
    std::vector<unsigned char> out(1 << 16);
    for (int i = 0; i < 300; ++i) {
        stream.next_in = zeros.data();
        stream.avail_in = zeros.size();
        int flush = i == 299 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = out.data();
            stream.avail_out = out.size();
            deflate(&stream, flush);
            bomb.append(reinterpret_cast<char*>(out.data()), out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);

    HTTPRequest request;
    ASSERT_TRUE(request.parse(bytes(encodedMessage(bomb))));
    EXPECT_EQ(bomb.size(), request.getBody().length());
    EXPECT_NE(nullptr, request.headers().find("decode_failed"));
}

TEST(HTTPObject, CopiesCarryTheMessageButNotTheFramingFlags) {
    HTTPRequest original;
    ASSERT_TRUE(original.parse(
        bytes("POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n")));
    ASSERT_TRUE(original.isChunked());
    HTTPRequest copy(original);
    EXPECT_FALSE(copy.isChunked());
    EXPECT_EQ("POST", copy.getMethod());
    EXPECT_EQ("/p", copy.getPath());
    EXPECT_EQ("abc", text(copy.getBody()));
    EXPECT_EQ("chunked", copy.headers().find("transfer-encoding")->value);
}

TEST(HTTPObject, BareLineFeedLinesKeepTheirLastByte) {
    HTTPRequest request;
    ASSERT_TRUE(request.parse(bytes("GET /v HTTP/1.1\nHost: abc\n\nbody")));
    EXPECT_EQ("/v", request.getPath());
    ASSERT_NE(nullptr, request.headers().find("Host"));
    EXPECT_EQ("abc", request.headers().find("Host")->value);
    EXPECT_EQ("body", text(request.getBody()));
}

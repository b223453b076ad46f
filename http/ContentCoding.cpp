#include "http/ContentCoding.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "http/MessageText.h"

namespace HTTPParser {

namespace {

int inflateOnce(uint8_t* out, uint32_t* outLength, const uint8_t* in, uint32_t inLength, bool raw) {
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = inLength;
    stream.next_out = out;
    stream.avail_out = *outLength;
    int result = raw ? inflateInit2(&stream, -15) : inflateInit(&stream);
    if (result != Z_OK) {
        *outLength = 0;
        return result;
    }
    int status = inflate(&stream, Z_SYNC_FLUSH);
    int endResult = inflateEnd(&stream);
    *outLength = static_cast<uint32_t>(stream.total_out);
    bool inputLeft = stream.avail_in > 0;
    switch (status) {
        case Z_STREAM_END:
            return endResult;
        case Z_NEED_DICT:
            return Z_DATA_ERROR;
        case Z_BUF_ERROR:
            return inputLeft ? Z_BUF_ERROR : Z_DATA_ERROR;
        case Z_OK:
            // A full output buffer may hide output still held inside the stream.
            return inputLeft || stream.avail_out == 0 ? Z_BUF_ERROR : Z_OK;
        default:
            return inputLeft ? status : Z_OK;
    }
}

}  // namespace

bool isKnownContentCoding(const std::string& value) {
    static const char* const kCodings[] = {"gzip", "x-gzip", "deflate", "compress", "x-compress"};
    for (const char* coding : kCodings) {
        if (equalsIgnoringCase(value, coding))
            return true;
    }
    return false;
}

int inflateBody(uint8_t* out, uint32_t* outLength, const uint8_t* in, uint32_t inLength) {
    uint32_t room = *outLength;
    int result = inflateOnce(out, outLength, in, inLength, false);
    if (result != Z_DATA_ERROR)
        return result;
    *outLength = room;
    return inflateOnce(out, outLength, in, inLength, true);
}

int inflateToBuffer(const IOB& body, IOB& out) {
    // Room for the terminating zero byte stays inside the limit.
    const uint64_t maxRoom = out.lengthLimit() - 1;
    uint64_t room = std::max<uint64_t>(uint64_t(body.length()) * 3, 64);
    out.clear();
    for (;;) {
        room = std::min(room, maxRoom);
        out.clear();
        if (!out.append(nullptr, static_cast<uint32_t>(room), false))
            return Z_MEM_ERROR;
        uint32_t produced = static_cast<uint32_t>(room);
        int result = inflateBody(out.data(), &produced, body.data(), body.length());
        out.setLength(produced);
        out.data()[produced] = 0;
        // A body that inflates beyond the buffer limit is treated as undecodable,
        // which bounds the memory a hostile body can claim.
        if (result != Z_BUF_ERROR || room >= maxRoom)
            return result;
        room *= 2;
    }
}

bool compressBody(const IOB& body, IOB& out) {
    if (body.length() == 0)
        return false;
    uLongf size = compressBound(body.length());
    std::vector<Bytef> scratch(size);
    if (compress(scratch.data(), &size, body.data(), body.length()) != Z_OK)
        return false;
    out.clear();
    return out.append(scratch.data(), static_cast<uint32_t>(size));
}

}  // namespace HTTPParser

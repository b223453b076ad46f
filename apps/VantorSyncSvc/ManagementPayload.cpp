#include "apps/VantorSyncSvc/ManagementPayload.h"

#include "config/TextCodes.h"

std::vector<uint8_t> encodeStatistics(int32_t whitelistCount, int32_t trainingDbCount) {
    std::vector<uint8_t> bytes;
    for (int32_t value : {whitelistCount, trainingDbCount}) {
        uint32_t bits = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back((bits >> shift) & 0xff);
    }
    return bytes;
}

bool isValidUtf8(const std::string& text) {
    return TextCodes::isValidUtf8(text);
}

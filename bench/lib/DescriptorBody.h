#pragma once

// Training-database push bodies for the benchmarks: n new descriptors with label 1 and
// status 1, each holding valuesEach values drawn from nextValue, so that every benchmark
// pushes the same wire records.

#include <cstdint>
#include <cstring>
#include <vector>

#include "http/IOB.h"

template <typename NextValue>
void makeDescriptorBody(HTTPParser::IOB& body, uint32_t n, uint32_t valuesEach,
                        NextValue nextValue) {
    body.clear();
    std::vector<uint8_t> record(12 + 8 * size_t(valuesEach));
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t label = 1, status = 1, count = valuesEach;
        std::memcpy(record.data(), &label, 4);
        std::memcpy(record.data() + 4, &status, 4);
        std::memcpy(record.data() + 8, &count, 4);
        for (uint32_t v = 0; v < valuesEach; ++v) {
            const uint64_t value = nextValue();
            std::memcpy(record.data() + 12 + 8 * size_t(v), &value, 8);
        }
        body.append(record.data(), uint32_t(record.size()));
    }
}

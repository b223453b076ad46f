#pragma once

#include <string>

#include "fuzz/FuzzCheck.h"
#include "http/IOB.h"
#include "storage/CommonTrainingDb.h"
#include "storage/MessageDescriptor.h"

namespace Fuzz {

// Pulls everything the store holds and checks that the answer is exactly as many whole
// records as the history counts, none of them with a status a pull must leave out.
// Returns the answer's bytes.
inline std::string pullAllChecked(CommonTrainingDb& store) {
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    const uint32_t base = store.historyBase();
    FUZZ_CHECK(store.getUpdates(base, body, newIndex));
    FUZZ_CHECK(newIndex == store.end());
    uint32_t cursor = 0;
    int32_t records = 0;
    MessageDescriptor descriptor;
    while (descriptor.parse(body, cursor)) {
        FUZZ_CHECK(descriptor.status > 0);
        ++records;
    }
    FUZZ_CHECK(cursor == body.length());
    FUZZ_CHECK(records == store.count());
    return std::string(body.chars(), body.length());
}

}  // namespace Fuzz

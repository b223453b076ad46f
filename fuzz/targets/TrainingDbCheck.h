#pragma once

#include <string>

#include "fuzz/FuzzCheck.h"
#include "http/IOB.h"
#include "storage/CommonTrainingDb.h"
#include "storage/MessageDescriptor.h"

namespace Fuzz {

// Pulls everything the store holds, page by page as a client does, and checks that the
// answers are whole records, none of them with a status a pull must leave out, and no
// more than the history counts (a foreign file may hold records a pull leaves out).
// Returns the answers' bytes.
inline std::string pullAllChecked(CommonTrainingDb& store) {
    std::string all;
    int32_t records = 0;
    uint32_t index = store.historyBase();
    while (index != store.end()) {
        HTTPParser::IOB body;
        uint32_t newIndex = 0;
        FUZZ_CHECK(store.getUpdates(index, body, newIndex));
        FUZZ_CHECK(newIndex > index && newIndex <= store.end());
        uint32_t cursor = 0;
        MessageDescriptor descriptor;
        while (descriptor.parse(body, cursor)) {
            FUZZ_CHECK(descriptor.status > 0);
            ++records;
        }
        FUZZ_CHECK(cursor == body.length());
        all.append(body.chars(), body.length());
        index = newIndex;
    }
    FUZZ_CHECK(records <= store.count());
    return all;
}

}  // namespace Fuzz

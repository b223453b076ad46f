#pragma once

#include <cstdint>
#include <string>

namespace Storage {

// What a check of a store's files found besides damage, for callers that need more than
// the problem lines: what the files number as a load keeps them (the oldest held change
// and the index the next one gets), and the line about an append at their end that a load
// drops ("" when none). A file read while the store appends to it may show such an append
// still under way, so the caller decides whether it is a problem.
struct FilesFound {
    uint32_t historyBase = 0;
    uint32_t end = 0;
    std::string unfinishedAppend;
};

}  // namespace Storage

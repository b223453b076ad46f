#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Read-only checks of the store files in a folder, for a backup or for the live data
// folder while the server runs. They read the files with the stores' own record
// readers and report each problem as one line that names the file; nothing is
// created, cut, set aside or repaired.
namespace StoreCheck {

// What the files number: the oldest held change and the index the next one gets.
struct Extent {
    uint32_t historyBase = 0;
    uint32_t end = 0;
};

// live: the files may grow while they are read, so an append still being written at
// the end is not a problem.
void checkWhitelist(const std::string& folder, bool live, Extent& extent,
                    std::vector<std::string>& problems);
void checkTrainingDb(const std::string& folder, bool live, Extent& extent,
                     std::vector<std::string>& problems);

}  // namespace StoreCheck

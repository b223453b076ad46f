#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/FilesFound.h"

// Read-only checks of the store files in a folder, for a backup or for the live data
// folder while the server runs: the stores' own file checks, and what only a folder as a
// whole tells (a data file a load set aside, a missing options file). Each problem is one
// line that names the file; nothing is created, cut, set aside or repaired.
namespace StoreCheck {

// What the files number: the oldest held change and the index the next one gets.
using Extent = Storage::FilesFound;

// live: the files may grow while they are read, so an append still being written at
// the end is not a problem.
void checkWhitelist(const std::string& folder, bool live, Extent& extent,
                    std::vector<std::string>& problems);
void checkTrainingDb(const std::string& folder, bool live, Extent& extent,
                     std::vector<std::string>& problems);

}  // namespace StoreCheck

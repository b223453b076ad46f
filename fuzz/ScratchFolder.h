#pragma once

#include <string>

namespace Fuzz {

// One private folder per process for the targets that need real files; made on first
// use under $TMPDIR and removed with its content when the process exits. Ends in "/".
const std::string& scratchFolder();

// Replaces the file's content with bytes (an empty string leaves an empty file).
void writeScratchFile(const std::string& path, const std::string& bytes);
// Removes every file in the scratch folder.
void emptyScratchFolder();

}  // namespace Fuzz

#pragma once

#include <string>

// The file side of a restore. A backup's files are first copied into a staging folder
// inside the data folder, where the service brings them to their new numbering; then a
// "ready" file that names the aside folder is made durable, and the staged files are
// moved into place while the replaced ones move aside (kept, not deleted). A crash during
// the moves leaves the ready file, and the next start finishes them, so the data folder
// never stays a mix of old and restored files.
namespace RestoreSwap {

constexpr const char* kStagingName = "restore.staging";
constexpr const char* kReadyName = "restore.ready";

std::string stagingFolder(const std::string& dataFolder);

// Copies the backup's files into a new, empty staging folder (an old one is removed).
bool stage(const std::string& backupFolder, const std::string& dataFolder, std::string& why);
// Records that the staged files are complete, then moves them in; aside receives the
// folder that now holds the replaced files.
bool swapIn(const std::string& dataFolder, std::string& aside, std::string& why);
// At start, before the stores load: completes a swap that a crash interrupted. True when
// there was none or it is complete now.
bool finishInterrupted(const std::string& dataFolder, std::string& why);

}  // namespace RestoreSwap

#pragma once

#include <string>

namespace DataFolder {

// The per-account folder of the service, "VantorSyncSvc" under the first usable of
// $XDG_CONFIG_HOME (default ~/.config), $XDG_DATA_HOME (default ~/.local/share) and
// ~/Documents. A candidate is created when missing and must pass probeWritable.
// The result ends in "/". When no candidate passes, the last one formed is returned;
// when none could be formed at all (no HOME and no XDG variables), the empty string.
std::string select();

// Creates folder + "check.txt", writes one byte, closes and deletes it. True only when
// the file could be created and the byte written. Whatever had that name is lost.
bool probeWritable(const std::string& folder);

}  // namespace DataFolder

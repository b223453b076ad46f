#pragma once

#include <string>

namespace HTTPParser {

// The sync protocol's paths, known in this one place: the dispatch, the hand-over of
// pushes to their committer and the metrics labels all read them from here, so a path
// cannot be routed one way and counted or checked another.
enum class SyncEndpoint {
    Version,
    PostWhitelist,
    GetWhitelist,
    PostTrainingDb,
    GetTrainingDb,
    Unknown
};

// A (percent-decoded) path matches without regard to ASCII case; anything else is Unknown.
SyncEndpoint syncEndpointOf(const std::string& path);
// The path as the protocol spells it; empty for Unknown.
const char* syncEndpointPath(SyncEndpoint endpoint);
bool isPushEndpoint(SyncEndpoint endpoint);

}  // namespace HTTPParser

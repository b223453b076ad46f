#include "http/SyncEndpoint.h"

#include <strings.h>

namespace HTTPParser {

namespace {

struct Entry {
    SyncEndpoint endpoint;
    const char* path;
};

constexpr Entry kEndpoints[] = {
    {SyncEndpoint::Version, "/version"},
    {SyncEndpoint::PostWhitelist, "/post_wl_updates"},
    {SyncEndpoint::GetWhitelist, "/get_wl_updates"},
    {SyncEndpoint::PostTrainingDb, "/post_ts_updates"},
    {SyncEndpoint::GetTrainingDb, "/get_ts_updates"},
};

}  // namespace

SyncEndpoint syncEndpointOf(const std::string& path) {
    for (const Entry& entry : kEndpoints) {
        // A path with a NUL inside is not any of these, whatever precedes the NUL.
        if (path.size() == std::char_traits<char>::length(entry.path) &&
            strcasecmp(path.c_str(), entry.path) == 0)
            return entry.endpoint;
    }
    return SyncEndpoint::Unknown;
}

const char* syncEndpointPath(SyncEndpoint endpoint) {
    for (const Entry& entry : kEndpoints) {
        if (entry.endpoint == endpoint)
            return entry.path;
    }
    return "";
}

bool isPushEndpoint(SyncEndpoint endpoint) {
    return endpoint == SyncEndpoint::PostWhitelist || endpoint == SyncEndpoint::PostTrainingDb;
}

}  // namespace HTTPParser

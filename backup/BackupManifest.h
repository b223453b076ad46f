#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a backup holds: written last into the backup folder as "manifest.json", so that
// verify and restore can tell a whole, untouched backup from anything else.
struct BackupManifest {
    static constexpr int kFormatVersion = 1;
    static constexpr const char* kFileName = "manifest.json";

    struct Store {
        uint32_t historyBase = 0;
        uint32_t end = 0;
        // The highest index the server had handed out when the backup was taken.
        uint32_t highestIndex = 0;
    };
    struct File {
        std::string name;
        uint64_t size = 0;
        std::string sha256;
    };

    int formatVersion = kFormatVersion;
    std::string created;  // UTC, ISO 8601
    Store whitelist, trainingDb;
    std::vector<File> files;

    std::string toJson() const;
    // False, with why, when the text is not a manifest of a known format version.
    static bool parse(const std::string& text, BackupManifest& manifest, std::string& why);
};

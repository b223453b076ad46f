#pragma once

#include <cstdint>
#include <string>

#include "backup/BackupManifest.h"

class CommonWhitelist;
class CommonTrainingDb;

// Takes a backup of the running stores: each store's files are fixed at a point where
// everything in them is durable, holding its commits only while that takes (the
// whitelist: while its files are opened; the training database: while its data file is
// copied, since a relabel rewrites older records in place). The bytes are written into
// a new folder beside the target, synced, and the folder is renamed to the target only
// when whole, so an interrupted backup leaves no folder under the target's name.
struct BackupTaken {
    std::string folder;
    uint64_t bytes = 0;  // every file, the manifest included
    BackupManifest manifest;
};

bool takeBackup(CommonWhitelist& whitelist, CommonTrainingDb& trainingDb,
                const std::string& dataFolder, const std::string& target, BackupTaken& taken,
                std::string& why);

// Copies the first length bytes of the open file fd into a new file at path (0600),
// synced; false when it exists already or anything fails.
bool copyIntoNewFile(int fd, int64_t length, const std::string& path);

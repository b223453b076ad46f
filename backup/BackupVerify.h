#pragma once

#include <string>
#include <vector>

#include "backup/BackupManifest.h"

// Checks a backup folder, or a live data folder while the server runs; read-only. Each
// problem is one line; none means sound.
namespace BackupVerify {

// The files of a backup besides its manifest: both stores, the index mark and config.xml.
const std::vector<std::string>& backupFiles();

// folder ends in "/". manifest, when given, receives the manifest that was read.
std::vector<std::string> checkBackup(const std::string& folder, BackupManifest* manifest = nullptr);
std::vector<std::string> checkDataFolder(const std::string& folder);

}  // namespace BackupVerify

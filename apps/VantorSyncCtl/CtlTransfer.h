#pragma once

#include <string>

#include "com/VantorSyncProxy.h"

// "export DIR|-" and "import FILE|-". The files are opened here, with the rights of the
// one who runs the command, and passed to the service over the bus, which reads or
// writes them in bounded pieces: nothing of the data passes through this program.
int runExport(const std::string& target, VantorSyncProxy& service);
int runImport(const std::string& source, VantorSyncProxy& service);

// The names of the two files an export into a folder writes.
inline constexpr const char* kWhitelistExportName = "whitelist.jsonl";
inline constexpr const char* kTrainingDbExportName = "trainingdb.jsonl";

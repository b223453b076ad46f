#pragma once

// Export and import of both stores in the portable text format (storage/ExportFormat.h),
// through files or pipes that a management caller passed over the bus.

#include <cstdint>
#include <string>

#include "apps/VantorSyncSvc/PushCommitter.h"
#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"

struct TransferCounts {
    uint64_t whitelistKeys = 0;
    uint64_t descriptors = 0;
};

// Writes the current keys of the whitelist and the current descriptors of the training
// database, each section as it stood at one durable point; both points are taken together
// at the start. Two descriptors of the same file (or pipe) get one stream with both
// sections. Memory stays bounded whatever the stores hold.
bool exportStores(CommonWhitelist& whitelist, CommonTrainingDb& trainingDb, int whitelistFd,
                  int trainingDbFd, TransferCounts& counts, std::string& why);

// Reads the caller's file and pushes its records through the committers, as clients'
// pushes go: numbered, durable and group-committed, in batches of at most kBatchRecords
// records (kBatchBytes bytes). A refused line stops the import; the batches committed
// before it stay, the records read since the last batch are not pushed, and why says how
// many records were imported.
inline constexpr uint32_t kBatchRecords = 10000;
inline constexpr uint32_t kBatchBytes = 4 << 20;
bool importStores(PushCommitter& whitelist, PushCommitter& trainingDb, int fd,
                  TransferCounts& counts, std::string& why);

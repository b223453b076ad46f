#pragma once

// What a power loss can leave of the files of a recorded workload. For a crash after the
// first `point` operations, the disk holds:
// - each file's data as of its last fsync before the crash, plus any of its later writes
//   and truncates; a later operation touching a page that an earlier one touched only
//   with that earlier one (a page reaches the disk whole, as of some moment; a truncate
//   counts as touching every page);
// - the names as of the folder's last fsync, plus a prefix of the later creations,
//   renames, links and unlinks (the file system journals them in order);
// - possibly a torn write: a prefix to a sector boundary, the same followed by zeros to
//   the end of its page, or only the grown size with the new bytes unwritten.
// States are built per crash point in a bounded number of ways; identical ones are
// visited once.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "tests/support/FileOpRecorder.h"

struct CrashState {
    size_t point = 0;  // operations issued before the crash
    std::string how;   // which of the unsynced operations reached the disk
    std::map<std::string, uint64_t> names;
    std::map<uint64_t, std::string> contents;  // of the named inodes
};

class CrashStates {
  public:
    enum class Breadth { quick, large };

    explicit CrashStates(const FileOpRecorder& recorder);

    // Visits each state not visited before for crash points from..to (inclusive);
    // returns how many were visited.
    size_t explore(size_t from, size_t to, Breadth breadth,
                   const std::function<void(const CrashState&)>& visit);
    // The files exactly as the workload left them: every operation on the disk.
    CrashState everything() const;
    // Fills folder (emptied first) with the state, each file under its recorded inode.
    bool materialize(const CrashState& state, const std::string& folder) const;

  private:
    struct Torn {
        size_t op = SIZE_MAX;
        int kind = 0;  // 1 prefix, 2 prefix and zeros, 3 size only
    };
    // Builds the state of a crash after point operations with the given unsynced data
    // operations (indexes into ops) and the first namePrefix unsynced name operations.
    CrashState build(size_t point, const std::vector<bool>& included, size_t namePrefix,
                     const Torn& torn) const;
    bool conflicts(const FileOp& a, const FileOp& b) const;
    // An unsynced set closed so that no operation lands without an earlier one it depends
    // on: dropping `without` drops its dependants; keeping `only` keeps what it needs.
    std::vector<bool> allBut(const std::vector<size_t>& unsynced, size_t without) const;
    std::vector<bool> onlyWith(const std::vector<size_t>& unsynced, size_t only) const;
    // Whether the inode holds a name that survives the crash, or takes one over.
    bool survives(uint64_t inode, const CrashState& durable, const CrashState& issued) const;
    bool offer(CrashState state, const std::function<void(const CrashState&)>& visit);

    std::vector<FileOp> ops_;
    std::map<std::string, uint64_t> initialNames_;
    std::map<uint64_t, std::string> initialContents_;
    std::string vault_;
    std::unordered_set<uint64_t> seen_;
};

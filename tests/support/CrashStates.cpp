#include "tests/support/CrashStates.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr uint64_t kPage = 4096;
constexpr uint64_t kSector = 512;

uint64_t fnv(uint64_t hash, const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

void put(std::string& content, uint64_t offset, const char* data, size_t size) {
    if (content.size() < offset + size)
        content.resize(offset + size, '\0');
    std::memcpy(content.data() + offset, data, size);
}

// Applies a write as a power loss may have torn it; false when this kind of tear cannot
// happen to it.
bool putTorn(std::string& content, const FileOp& op, int kind) {
    const uint64_t end = op.offset + op.bytes.size();
    const uint64_t cut = (op.offset / kSector + 1) * kSector;
    if (kind == 3) {
        if (end <= content.size())
            return false;
        content.resize(end, '\0');
        return true;
    }
    if (cut >= end)
        return false;
    put(content, op.offset, op.bytes.data(), cut - op.offset);
    if (kind == 2) {
        const uint64_t zerosEnd = std::min(end, (cut / kPage + 1) * kPage);
        const std::string zeros(zerosEnd - cut, '\0');
        put(content, cut, zeros.data(), zeros.size());
    }
    return true;
}

}  // namespace

CrashStates::CrashStates(const FileOpRecorder& recorder)
    : ops_(recorder.ops()),
      initialNames_(recorder.initialNames()),
      initialContents_(recorder.initialContents()),
      vault_(recorder.vault()) {}

bool CrashStates::conflicts(const FileOp& a, const FileOp& b) const {
    if (a.inode != b.inode)
        return false;
    if (a.kind == FileOp::Kind::truncate || b.kind == FileOp::Kind::truncate)
        return true;
    const uint64_t aFirst = a.offset / kPage, aLast = (a.offset + a.bytes.size() - 1) / kPage;
    const uint64_t bFirst = b.offset / kPage, bLast = (b.offset + b.bytes.size() - 1) / kPage;
    return aFirst <= bLast && bFirst <= aLast;
}

std::vector<bool> CrashStates::allBut(const std::vector<size_t>& unsynced, size_t without) const {
    std::vector<bool> included(ops_.size(), false);
    std::vector<size_t> dropped{without};
    for (size_t op : unsynced) {
        const bool depends =
            op > without && std::any_of(dropped.begin(), dropped.end(),
                                        [&](size_t d) { return conflicts(ops_[d], ops_[op]); });
        if (depends)
            dropped.push_back(op);
        included[op] = op != without && !depends;
    }
    return included;
}

std::vector<bool> CrashStates::onlyWith(const std::vector<size_t>& unsynced, size_t only) const {
    std::vector<bool> included(ops_.size(), false);
    included[only] = true;
    for (auto op = unsynced.rbegin(); op != unsynced.rend(); ++op) {
        if (*op >= only)
            continue;
        for (size_t later = *op + 1; later <= only; ++later) {
            if (included[later] && conflicts(ops_[*op], ops_[later])) {
                included[*op] = true;
                break;
            }
        }
    }
    return included;
}

CrashState CrashStates::build(size_t point, const std::vector<bool>& included, size_t namePrefix,
                              const Torn& torn) const {
    std::map<uint64_t, size_t> syncedBefore;
    size_t folderSyncedBefore = 0;
    for (size_t i = 0; i < point; ++i) {
        if (ops_[i].kind == FileOp::Kind::syncFile)
            syncedBefore[ops_[i].inode] = i;
        else if (ops_[i].kind == FileOp::Kind::syncFolder)
            folderSyncedBefore = i;
    }
    CrashState state;
    state.point = point;
    state.names = initialNames_;
    size_t unsyncedNames = 0;
    for (size_t i = 0; i < point; ++i) {
        const FileOp& op = ops_[i];
        if (!op.changesNames() || (i > folderSyncedBefore && unsyncedNames++ >= namePrefix))
            continue;
        if (op.kind == FileOp::Kind::create || op.kind == FileOp::Kind::link) {
            state.names[op.name] = op.inode;
        } else if (op.kind == FileOp::Kind::unlink) {
            state.names.erase(op.name);
        } else if (auto from = state.names.find(op.name); from != state.names.end()) {
            const uint64_t inode = from->second;
            state.names.erase(from);
            state.names[op.to] = inode;
        }
    }
    for (const auto& [name, inode] : state.names) {
        if (state.contents.count(inode) != 0)
            continue;
        auto initial = initialContents_.find(inode);
        std::string content = initial != initialContents_.end() ? initial->second : "";
        auto synced = syncedBefore.find(inode);
        for (size_t i = 0; i < point; ++i) {
            const FileOp& op = ops_[i];
            if (!op.changesData() || op.inode != inode)
                continue;
            const bool durable = synced != syncedBefore.end() && i < synced->second;
            if (!durable && !included[i])
                continue;
            // A tear that cannot happen to this write leaves it whole.
            if (i == torn.op && putTorn(content, op, torn.kind))
                continue;
            if (op.kind == FileOp::Kind::write)
                put(content, op.offset, op.bytes.data(), op.bytes.size());
            else
                content.resize(op.offset, '\0');
        }
        state.contents[inode] = std::move(content);
    }
    return state;
}

bool CrashStates::survives(uint64_t inode, const CrashState& durable,
                           const CrashState& issued) const {
    for (const auto& [name, named] : issued.names) {
        if (named == inode && durable.names.count(name) != 0)
            return true;
    }
    for (const auto& [name, named] : durable.names) {
        if (named == inode)
            return true;
    }
    return false;
}

bool CrashStates::offer(CrashState state, const std::function<void(const CrashState&)>& visit) {
    uint64_t hash = 14695981039346656037ull;
    for (const auto& [name, inode] : state.names) {
        hash = fnv(hash, name.data(), name.size() + 1);
        hash = fnv(hash, &inode, sizeof inode);
        const std::string& content = state.contents[inode];
        hash = fnv(hash, content.data(), content.size());
        const uint64_t size = content.size();
        hash = fnv(hash, &size, sizeof size);
    }
    if (!seen_.insert(hash).second)
        return false;
    visit(state);
    return true;
}

size_t CrashStates::explore(size_t from, size_t to, Breadth breadth,
                            const std::function<void(const CrashState&)>& visit) {
    size_t visited = 0;
    to = std::min(to, ops_.size());
    for (size_t point = from; point <= to; ++point) {
        // The quick set crashes only at the end of a run of writes to one file; within it
        // the tear of its last write and the drop of each write stand for the rest.
        if (breadth == Breadth::quick && point > 0 && point < ops_.size() &&
            ops_[point].kind == FileOp::Kind::write &&
            ops_[point - 1].kind == FileOp::Kind::write &&
            ops_[point].inode == ops_[point - 1].inode)
            continue;
        std::map<uint64_t, size_t> syncedBefore;
        size_t folderSyncedBefore = 0;
        for (size_t i = 0; i < point; ++i) {
            if (ops_[i].kind == FileOp::Kind::syncFile)
                syncedBefore[ops_[i].inode] = i;
            else if (ops_[i].kind == FileOp::Kind::syncFolder)
                folderSyncedBefore = i;
        }
        std::vector<size_t> pending;
        size_t unsyncedNames = 0;
        for (size_t i = 0; i < point; ++i) {
            const FileOp& op = ops_[i];
            if (op.changesNames() && i > folderSyncedBefore)
                ++unsyncedNames;
            auto synced = syncedBefore.find(op.inode);
            if (op.changesData() && (synced == syncedBefore.end() || i > synced->second))
                pending.push_back(i);
        }
        std::vector<bool> all(ops_.size(), false), settled(ops_.size(), false);
        for (size_t op : pending)
            all[op] = true;
        // Only files that have, or take the place of, a name that survives are varied: the
        // rest (temporaries a load removes) always get every write, so that states differing
        // only in them are not loaded again and again.
        const CrashState durable = build(point, settled, 0, Torn{});
        const CrashState issued = build(point, all, SIZE_MAX, Torn{});
        std::vector<size_t> unsynced;
        size_t lastWrite = SIZE_MAX;
        for (size_t op : pending) {
            if (!survives(ops_[op].inode, durable, issued)) {
                settled[op] = true;
                continue;
            }
            unsynced.push_back(op);
            if (ops_[op].kind == FileOp::Kind::write)
                lastWrite = op;
        }
        const std::string at =
            point == 0 ? "crash before any operation" : "crash after " + ops_[point - 1].describe();
        const auto offerAs = [&](const std::string& how, std::vector<bool> included, size_t names,
                                 Torn torn = {}) {
            for (size_t op : pending)
                included[op] = included[op] || settled[op];
            CrashState state = build(point, included, names, torn);
            state.how = at + ": " + how;
            visited += offer(std::move(state), visit) ? 1 : 0;
        };
        offerAs("everything issued", all, SIZE_MAX);
        offerAs("only what was synced", settled, 0);
        for (size_t op : unsynced)
            offerAs("all but " + ops_[op].describe(), allBut(unsynced, op), SIZE_MAX);
        for (size_t names = 0; names < unsyncedNames; ++names)
            offerAs("data issued, first " + std::to_string(names) + " unsynced name changes", all,
                    names);
        std::vector<size_t> tearable;
        if (breadth == Breadth::large) {
            for (size_t op : unsynced) {
                if (ops_[op].kind == FileOp::Kind::write)
                    tearable.push_back(op);
            }
        } else if (lastWrite != SIZE_MAX) {
            tearable.push_back(lastWrite);
        }
        static const char* const kTears[] = {"", "torn to a sector", "torn, zeros to the page",
                                             "size grown, bytes unwritten"};
        for (size_t op : tearable) {
            for (int kind = 1; kind <= 3; ++kind)
                offerAs(std::string(kTears[kind]) + ": " + ops_[op].describe(), all, SIZE_MAX,
                        Torn{op, kind});
        }
        if (breadth == Breadth::quick)
            continue;
        for (size_t op : unsynced)
            offerAs("only " + ops_[op].describe(), onlyWith(unsynced, op), SIZE_MAX);
        for (size_t names = 0; names < unsyncedNames; ++names)
            offerAs("data synced, first " + std::to_string(names) + " unsynced name changes",
                    settled, names);
        std::mt19937 random{uint32_t(point)};
        for (int round = 0; round < 8; ++round) {
            std::vector<bool> some(ops_.size(), false);
            for (size_t op : unsynced) {
                bool take = random() % 2 == 0;
                for (size_t earlier : unsynced) {
                    if (earlier < op && !some[earlier] && conflicts(ops_[earlier], ops_[op]))
                        take = false;
                }
                some[op] = take;
            }
            offerAs("random subset " + std::to_string(round), some,
                    unsyncedNames == 0 ? 0 : random() % (unsyncedNames + 1));
        }
    }
    return visited;
}

CrashState CrashStates::everything() const {
    CrashState state = build(ops_.size(), std::vector<bool>(ops_.size(), true), SIZE_MAX, Torn{});
    state.how = "everything issued";
    return state;
}

bool CrashStates::materialize(const CrashState& state, const std::string& folder) const {
    if (DIR* dir = ::opendir(folder.c_str())) {
        std::vector<std::string> names;
        while (dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        }
        ::closedir(dir);
        for (const std::string& name : names)
            ::unlink((folder + "/" + name).c_str());
    }
    bool ok = true;
    for (const auto& [inode, content] : state.contents) {
        const std::string kept = vault_ + "/" + std::to_string(inode);
        const int fd = ::open(kept.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        ok =
            ok && fd >= 0 && ::write(fd, content.data(), content.size()) == ssize_t(content.size());
        if (fd >= 0)
            ::close(fd);
    }
    for (const auto& [name, inode] : state.names) {
        const std::string kept = vault_ + "/" + std::to_string(inode);
        ok = ok && ::link(kept.c_str(), (folder + "/" + name).c_str()) == 0;
    }
    return ok;
}

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "storage/CommonWhitelist.h"

CommonWhitelist::ExportPoint CommonWhitelist::exportPoint() {
    AutoLock lock(lock_);
    return ExportPoint{servedEndLocked(), generation_};
}

bool CommonWhitelist::exportChunkLocked(const ExportPoint& point, bool started, int64_t after,
                                        std::vector<int64_t>& chunk, int64_t& upTo) const {
    chunk.clear();
    // The keys held now, from where the last chunk ended.
    auto take = [&chunk](const int64_t* keys, size_t count) {
        const size_t room = kExportChunk - chunk.size();
        chunk.insert(chunk.end(), keys, keys + std::min(count, room));
        return chunk.size() < kExportChunk;
    };
    constexpr int64_t kLowest = std::numeric_limits<int64_t>::min();
    if (!started && keys_.contains(kLowest))
        chunk.push_back(kLowest);
    keys_.forEachRunAbove(started ? after : kLowest, take);
    const bool last = chunk.size() < kExportChunk;
    upTo = last ? std::numeric_limits<int64_t>::max() : chunk.back();
    auto inRange = [&](int64_t key) { return (!started || key > after) && key <= upTo; };

    // Within that range, the first change after the point tells whether a key was there
    // at the point (only effective changes are recorded).
    std::unordered_map<int64_t, bool> presentAtPoint;
    for (size_t i = point.index - historyBase_; i < history_.size(); ++i) {
        const int64_t key = history_[i].key;  // a packed field: copied, never referenced
        if (inRange(key))
            presentAtPoint.try_emplace(key, history_[i].op == WhitelistChange::kRemoved);
    }
    if (presentAtPoint.empty())
        return last;
    std::erase_if(chunk, [&](int64_t key) {
        auto found = presentAtPoint.find(key);
        return found != presentAtPoint.end() && !found->second;
    });
    for (const auto& [key, present] : presentAtPoint) {
        if (present && !keys_.contains(key))
            chunk.push_back(key);
    }
    std::sort(chunk.begin(), chunk.end());
    return last;
}

bool CommonWhitelist::exportKeys(const ExportPoint& point,
                                 const std::function<bool(const int64_t*, size_t)>& sink,
                                 std::string& why) {
    std::vector<int64_t> chunk;
    chunk.reserve(kExportChunk);
    bool started = false;
    int64_t after = 0;
    for (;;) {
        bool last;
        {
            AutoLock lock(lock_);
            if (generation_ != point.generation || point.index < historyBase_ ||
                point.index > endLocked()) {
                why =
                    "the common whitelist was cleared, or changed more than its history holds, "
                    "while it was exported; export again";
                return false;
            }
            last = exportChunkLocked(point, started, after, chunk, after);
        }
        if (!chunk.empty() && !sink(chunk.data(), chunk.size()))
            return false;
        if (last)
            return true;
        started = true;
    }
}

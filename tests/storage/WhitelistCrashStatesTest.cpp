// A power loss at any moment of whitelist workloads (appends, full rewrites after a clear,
// periodic and at a clean stop, a failed append, a restart): every state the disk may be
// left in is loaded by the real store, which must serve exactly a state that clients may
// have been told of, never losing an acknowledged push.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "storage/CommonWhitelist.h"
#include "tests/storage/CrashExplorer.h"

namespace {

using Change = std::pair<uint8_t, int64_t>;

struct WlState {
    std::set<int64_t> keys;
    std::vector<Change> changes;  // since the last clear: change i has index i
};

struct KeyRange {
    bool add;
    int64_t first, last;
};

class WhitelistWorkload {
  public:
    WhitelistWorkload(const CrashFolders& folders, uint32_t maxHistory)
        : folders_(folders),
          maxHistory_(maxHistory),
          recorder_(std::make_unique<FileOpRecorder>(folders.work, folders.vault)) {}

    void load(const std::string& what) {
        begin(what);
        store_ = std::make_unique<CommonWhitelist>();
        ASSERT_TRUE(store_->load(folders_.work + "/"));
        end(true);
    }
    void push(const std::string& what, const std::vector<KeyRange>& ranges, bool failSync = false) {
        begin(what);
        HTTPParser::IOB body;
        WlState attempt = state_;
        for (const KeyRange& range : ranges) {
            for (int64_t key = range.first; key <= range.last; ++key) {
                uint8_t record[WhitelistChange::kSize];
                WhitelistChange{uint8_t(range.add ? 1 : 0), key}.encode(record);
                body.append(record, sizeof record);
                if (range.add ? attempt.keys.insert(key).second : attempt.keys.erase(key) == 1)
                    attempt.changes.emplace_back(range.add ? 1 : 0, key);
            }
        }
        if (failSync)
            recorder_->failNextFileSync();
        uint32_t newIndex = 0;
        const bool ok = store_->applyPending(body, newIndex) &&
                        store_->commitPending(folders_.work + "/", maxHistory_, true);
        EXPECT_EQ(ok, !failSync) << what;
        if (ok)
            state_ = attempt;
        end(ok, attempt);
    }
    // What the committer does once a group's answers are out: the next append then finds
    // its end on the disk already.
    void recordEndAhead() {
        begin("end recorded ahead");
        store_->recordEndAhead(folders_.work + "/");
        end(true);
    }
    void clear() {
        begin("clear");
        // Answered once the emptied files are on the disk.
        const bool durable = store_->clear(folders_.work + "/");
        EXPECT_TRUE(durable);
        state_ = WlState{};
        end(durable);
    }
    void stop() {
        begin("clean stop");
        EXPECT_TRUE(store_->save(folders_.work + "/"));
        store_.reset();
        end(true);
    }
    // Ends the recording; the store is gone by then, so nothing writes behind it.
    CrashStates finish() {
        store_.reset();
        CrashStates states(*recorder_);
        recorder_.reset();
        return states;
    }

    std::vector<WorkloadStep> steps;
    std::vector<WlState> after, attempted;

  private:
    void begin(const std::string& what) {
        steps.push_back(WorkloadStep{what, recorder_->ops().size(), 0, false});
    }
    void end(bool acknowledged) { end(acknowledged, state_); }
    void end(bool acknowledged, const WlState& attempt) {
        steps.back().end = recorder_->ops().size();
        steps.back().acknowledged = acknowledged;
        after.push_back(state_);
        attempted.push_back(attempt);
    }

    const CrashFolders& folders_;
    uint32_t maxHistory_;
    std::unique_ptr<FileOpRecorder> recorder_;
    std::unique_ptr<CommonWhitelist> store_;
    WlState state_;
};

struct Served {
    uint32_t base = 0, end = 0;
    std::vector<Change> history;  // from base on
};

bool sameKeys(CommonWhitelist& store, const std::set<int64_t>& keys) {
    if (store.keyCount() != keys.size())
        return false;
    for (int64_t key : keys) {
        if (!store.containsKey(key))
            return false;
    }
    return true;
}

// Whether the served history is the state's; with prefix, whether it is a beginning of it.
bool historyFits(const Served& served, const WlState& state, bool prefix = false) {
    if (served.base > served.end || served.end > state.changes.size() ||
        (!prefix && served.end != state.changes.size()))
        return false;
    for (size_t i = 0; i < served.history.size(); ++i) {
        if (served.history[i] != state.changes[served.base + i])
            return false;
    }
    return true;
}

std::string checkWhitelist(const WhitelistWorkload& workload, const CrashWindow& window,
                           const std::string& folder) {
    CommonWhitelist store;
    if (!store.load(folder + "/"))
        return "load failed";
    Served served{store.historyBase(), store.end(), {}};
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    store.getUpdates(served.base, body, newIndex);
    for (uint32_t at = 0; at + WhitelistChange::kSize <= body.length();
         at += WhitelistChange::kSize) {
        const WhitelistChange change = WhitelistChange::decode(body.data() + at);
        const int64_t key = change.key;
        served.history.emplace_back(change.op, key);
    }
    if (served.history.size() != size_t(served.end - served.base))
        return "history not served whole";

    std::vector<const WlState*> candidates;
    bool cleared = false;
    for (size_t i = window.first; i <= window.last; ++i) {
        candidates.push_back(&workload.after[i]);
        cleared = cleared || workload.steps[i].what == "clear";
    }
    if (window.inFlight)
        candidates.push_back(&workload.attempted[window.last]);
    for (const WlState* state : candidates) {
        if (historyFits(served, *state) && sameKeys(store, state->keys))
            return "";
    }
    const WlState& acknowledged = *candidates.front();
    for (int64_t key : acknowledged.keys) {
        if (!cleared && !store.containsKey(key))
            return "acknowledged keys missing";
    }
    const bool knownHistory =
        std::any_of(candidates.begin(), candidates.end(),
                    [&](const WlState* state) { return historyFits(served, *state, true); });
    if (!knownHistory)
        return "history records nobody pushed served";
    return served.end < acknowledged.changes.size() && !cleared ? "acknowledged changes missing"
                                                                : "keys differ from every state";
}

void explore(WhitelistWorkload& workload, const CrashFolders& folders, size_t from, size_t to,
             const std::string& title) {
    CrashStates states = workload.finish();
    expectRecordMatchesDisk(states, folders);
    CrashTally tally({});
    exploreCrashes(
        states, folders, workload.steps, from, to, tally,
        [&](const CrashWindow& window) { return checkWhitelist(workload, window, folders.state); });
    tally.expectOnlyKnown(title);
}

}  // namespace

TEST(WhitelistCrashStates, AppendsRewritesClearAndRestart) {
    CrashFolders folders;
    // Appends outrun the history maximum, so a rewrite trims records the key file lacks.
    WhitelistWorkload workload(folders, 300);
    workload.load("load");
    // 600 records span pages of the history file, so its pages may reach the disk apart.
    workload.push("first save", {{true, 1, 600}});
    workload.push("append", {{true, 601, 1200}});
    workload.recordEndAhead();
    workload.push("append", {{false, 1, 300}, {true, 5000, 5000}});
    workload.recordEndAhead();
    workload.push("failed append", {{true, 7000, 7100}}, true);
    workload.push("append", {{true, 7000, 7010}});
    workload.clear();
    workload.push("first push after a clear", {{true, 9000, 9500}});
    workload.recordEndAhead();
    workload.push("append", {{true, 9501, 9900}});
    workload.stop();
    workload.load("load after a clean stop");
    workload.push("append after a restart", {{true, 10000, 10100}, {false, 9000, 9010}});
    explore(workload, folders, 0, SIZE_MAX, "whitelist appends and rewrites");
}

TEST(WhitelistCrashStates, PeriodicRewrite) {
    CrashFolders folders;
    WhitelistWorkload workload(folders, 1000);
    workload.load("load");
    workload.push("first save", {{true, 1, 1000}});
    workload.push("append", {{true, 1001, 2000}});
    const size_t from = workload.steps.back().end;
    // Past the append limit: both files are rewritten, the history trimmed to its maximum.
    workload.push("periodic rewrite",
                  {{true, 100000, 100000 + int64_t(CommonWhitelist::kAppendLimit)}});
    workload.recordEndAhead();
    workload.push("append after a rewrite", {{true, 2001, 2100}});
    const size_t to = workload.steps.back().end;
    explore(workload, folders, from, to, "whitelist periodic rewrite");
}

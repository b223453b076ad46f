// A power loss at any moment of a training database workload (pushes, relabels, a trim
// with a compaction, a failed push, a clear, a clean stop and a restart): every state the
// disk may be left in is loaded by the real store. Each index a client may hold must keep
// its descriptor, no acknowledged record may go missing, nothing unpushed may be served,
// and each descriptor served must have exactly one current record with a label it was
// pushed with.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

#include "storage/CommonTrainingDb.h"
#include "tests/storage/CrashExplorer.h"
#include "tests/trainingdb/RecordBytes.h"

namespace {

using Values = std::vector<int64_t>;
using Labelled = std::pair<uint32_t, int>;  // label, descriptor number

// Descriptors of 150 to 450 values (1 to 4 KiB), so that records and the heads rewritten
// in place fall on different pages and may reach the disk apart.
Values valuesOf(int descriptor) {
    Values values;
    for (int i = 0; i < 150 + descriptor * 97 % 300; ++i)
        values.push_back(int64_t(descriptor) * 1000000 + i);
    return values;
}

struct Rec {
    uint32_t label;
    int32_t status;
    Values values;
};

struct TdbState {
    uint32_t base = 0, end = 0;
    int epoch = 0;            // counts clears, after which indexes start again at 0
    std::vector<Rec> served;  // served[i] has the index base + i
};

TdbState observe(CommonTrainingDb& db) {
    TdbState state;
    state.base = db.historyBase();
    state.end = db.end();
    uint32_t at = state.base;
    for (int page = 0; page < 100 && at < state.end; ++page) {
        HTTPParser::IOB body;
        uint32_t newIndex = 0;
        if (!db.getUpdates(at, body, newIndex) || newIndex <= at)
            break;
        at = newIndex;
        const std::string bytes = contents(body);
        for (size_t pos = 0; pos + 12 <= bytes.size();) {
            uint32_t head[3];
            std::memcpy(head, bytes.data() + pos, sizeof head);
            Rec rec{head[0], int32_t(head[1]), Values(head[2])};
            if (pos + 12 + 8 * rec.values.size() > bytes.size())
                break;
            std::memcpy(rec.values.data(), bytes.data() + pos + 12, 8 * rec.values.size());
            pos += 12 + 8 * rec.values.size();
            state.served.push_back(std::move(rec));
        }
    }
    return state;
}

class TrainingDbWorkload {
  public:
    TrainingDbWorkload(const CrashFolders& folders, uint32_t maxSize)
        : folders_(folders),
          maxSize_(maxSize),
          recorder_(std::make_unique<FileOpRecorder>(folders.work, folders.vault)) {}

    void load(const std::string& what) {
        begin(what);
        db_ = std::make_unique<CommonTrainingDb>();
        ASSERT_TRUE(db_->load(folders_.work + "/"));
        end(true);
    }
    void push(const std::string& what, const std::vector<Labelled>& descriptors,
              bool failSync = false) {
        begin(what);
        std::string bytes;
        for (auto [label, descriptor] : descriptors)
            bytes += record(label, 1, valuesOf(descriptor));
        HTTPParser::IOB body;
        fill(body, bytes);
        if (failSync)
            recorder_->failNextFileSync();
        uint32_t newIndex = 0;
        // As the service commits: trims and compactions may lag a little behind the maximum.
        const bool ok = db_->applyPending(body, newIndex) &&
                        db_->commitPending(maxSize_, maxSize_ / 4, maxSize_ / 64);
        EXPECT_EQ(ok, !failSync) << what;
        attempts.back() = descriptors;
        end(ok);
    }
    void clear() {
        begin("clear");
        db_->clear();
        ++epoch_;
        end(false);
    }
    void stop() {
        begin("clean stop");
        EXPECT_TRUE(db_->flush());
        db_.reset();
        end(true);
    }
    CrashStates finish() {
        db_.reset();
        CrashStates states(*recorder_);
        recorder_.reset();
        return states;
    }

    std::vector<WorkloadStep> steps;
    std::vector<TdbState> after;
    std::vector<std::vector<Labelled>> attempts;  // per step: what it pushed

  private:
    void begin(const std::string& what) {
        steps.push_back(WorkloadStep{what, recorder_->ops().size(), 0, false});
        attempts.emplace_back();
    }
    void end(bool acknowledged) {
        steps.back().end = recorder_->ops().size();
        steps.back().acknowledged = acknowledged;
        TdbState state = db_ ? observe(*db_) : after.back();
        state.epoch = epoch_;
        after.push_back(std::move(state));
    }

    const CrashFolders& folders_;
    uint32_t maxSize_;
    std::unique_ptr<FileOpRecorder> recorder_;
    std::unique_ptr<CommonTrainingDb> db_;
    int epoch_ = 0;
};

// What the states of one epoch in a crash window allow a loaded store to serve.
struct Allowed {
    const TdbState* acknowledged = nullptr;  // when of this epoch
    uint32_t maxEnd = 0, maxBase = 0;
    std::map<uint32_t, Values> at;                // index -> descriptor
    std::map<Values, std::set<uint32_t>> labels;  // descriptor -> labels it may be current with
    std::vector<Values> inFlight;                 // descriptors of a push not answered yet
};

std::string checkEpoch(const TdbState& loaded, const Allowed& allowed) {
    if (allowed.acknowledged != nullptr && loaded.end < allowed.acknowledged->end)
        return "acknowledged records missing";
    if (loaded.end > allowed.maxEnd)
        return "records nobody pushed served";
    if (loaded.base > allowed.maxBase)
        return "history start moved past acknowledged records";
    std::map<Values, std::vector<const Rec*>> byDescriptor;
    for (size_t i = 0; i < loaded.served.size(); ++i) {
        const Rec& rec = loaded.served[i];
        auto expected = allowed.at.find(loaded.base + uint32_t(i));
        const bool pushedNow = std::find(allowed.inFlight.begin(), allowed.inFlight.end(),
                                         rec.values) != allowed.inFlight.end();
        if (expected != allowed.at.end() ? expected->second != rec.values : !pushedNow)
            return "an index serves another descriptor";
        byDescriptor[rec.values].push_back(&rec);
    }
    for (const auto& [values, records] : byDescriptor) {
        const auto current = std::count_if(records.begin(), records.end(),
                                           [](const Rec* rec) { return rec->status == 1; });
        if (current > 1)
            return "two current records for one descriptor";
        if (records.back()->status != 1)
            return "descriptor without a current record";
        auto labels = allowed.labels.find(values);
        if (labels != allowed.labels.end() && labels->second.count(records.back()->label) == 0)
            return "current record with a label never acknowledged";
    }
    return "";
}

std::string checkTrainingDb(const TrainingDbWorkload& workload, const CrashWindow& window,
                            const std::string& folder) {
    CommonTrainingDb db;
    if (!db.load(folder + "/"))
        return "load failed";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().find(".damaged-") != std::string::npos)
            return "data file set aside as damaged";
    }
    const TdbState loaded = observe(db);
    if (loaded.served.size() != size_t(loaded.end - loaded.base))
        return "held records not served";

    // An index names one descriptor for good (until a clear); steps after the window are
    // left out, since an index a failed push would have taken goes to the next push.
    std::map<int, Allowed> epochs;
    for (size_t step = 0; step <= window.last; ++step) {
        const TdbState& state = workload.after[step];
        Allowed& allowed = epochs[state.epoch];
        const bool inWindow = step >= window.first;
        for (size_t i = 0; i < state.served.size(); ++i) {
            const Rec& rec = state.served[i];
            allowed.at.emplace(state.base + uint32_t(i), rec.values);
            if (inWindow && rec.status == 1)
                allowed.labels[rec.values].insert(rec.label);
        }
        if (!inWindow)
            continue;
        allowed.maxEnd = std::max(allowed.maxEnd, state.end);
        allowed.maxBase = std::max(allowed.maxBase, state.base);
        if (step == window.first)
            allowed.acknowledged = &state;
    }
    if (window.inFlight) {
        Allowed& allowed = epochs[workload.after[window.last].epoch];
        for (auto [label, descriptor] : workload.attempts[window.last]) {
            allowed.inFlight.push_back(valuesOf(descriptor));
            allowed.labels[valuesOf(descriptor)].insert(label);
        }
        allowed.maxEnd += uint32_t(allowed.inFlight.size());
    }
    // A clear in the window allows either numbering; the problem told is the newer one's.
    std::string problem;
    for (auto& [epoch, allowed] : epochs) {
        if (epoch < workload.after[window.first].epoch)
            continue;
        problem = checkEpoch(loaded, allowed);
        if (problem.empty())
            return "";
    }
    return problem;
}

}  // namespace

TEST(TrainingDbCrashStates, PushesRelabelsTrimsCompactionsClearAndRestart) {
    CrashFolders folders;
    TrainingDbWorkload workload(folders, 4);
    workload.load("load");
    workload.push("push", {{1, 1}, {1, 2}, {1, 3}});
    workload.push("relabel", {{2, 1}});
    workload.push("trim and compaction", {{1, 4}, {1, 5}, {1, 6}});
    workload.push("failed push", {{3, 4}, {1, 7}}, true);
    workload.push("relabel", {{3, 4}, {1, 7}});
    workload.clear();
    workload.push("push after a clear", {{1, 8}, {2, 5}});
    workload.stop();
    workload.load("load after a clean stop");
    workload.push("relabel after a restart", {{1, 9}, {4, 8}});

    CrashStates states = workload.finish();
    expectRecordMatchesDisk(states, folders);
    CrashTally tally({});
    exploreCrashes(states, folders, workload.steps, 0, SIZE_MAX, tally,
                   [&](const CrashWindow& window) {
                       return checkTrainingDb(workload, window, folders.state);
                   });
    tally.expectOnlyKnown("training database");
}

// Random histories of pushes, re-posts, relabels, trims, compactions, clears, restarts
// and crashes at every file operation, checked against a small model of the numbered
// history: every index a client may hold always names the same change.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "tests/support/FaultyFileOps.h"
#include "tests/support/TempFolder.h"
#include "tests/trainingdb/RecordBytes.h"

namespace {

enum class Op { push, clear, restart, crash };

struct Step {
    Op op;
    std::vector<std::pair<uint8_t, int64_t>> changes;  // whitelist: op, key; training: label, set
    uint32_t maxSize;
};

std::vector<Step> randomSteps(uint32_t seed, size_t count) {
    std::mt19937 random(seed);
    std::vector<Step> steps;
    for (size_t i = 0; i < count; ++i) {
        Step step{Op::push, {}, uint32_t(2 + random() % 5)};
        const unsigned kind = random() % 20;
        step.op = kind == 0   ? Op::clear
                  : kind == 1 ? Op::restart
                  : kind == 2 ? Op::crash
                              : Op::push;
        for (unsigned n = 1 + random() % 3; n > 0; --n)
            step.changes.emplace_back(uint8_t(random() % 3), int64_t(random() % 7));
        steps.push_back(step);
    }
    return steps;
}

// ---- the whitelist and its model

struct WlModel {
    std::set<int64_t> keys;
    std::vector<std::pair<uint8_t, int64_t>> history;
    uint32_t base = 0;

    void push(const Step& step) {
        for (auto [op, key] : step.changes) {
            const bool add = op != 0;
            if (add ? keys.insert(key).second : keys.erase(key) == 1)
                history.emplace_back(add ? 1 : 0, key);
        }
        if (history.size() > step.maxSize) {
            base += uint32_t(history.size() - step.maxSize);
            history.erase(history.begin(), history.end() - step.maxSize);
        }
    }
    bool operator==(const WlModel&) const = default;
};

// The loaded store holds model's state; its history may reach further back than the
// model's trimmed one (a crash before the trimmed history file replaced the longer one).
bool heldBy(const WlModel& seen, const WlModel& model) {
    const size_t extra = seen.history.size() - std::min(seen.history.size(), model.history.size());
    return seen.keys == model.keys && seen.base + extra == model.base &&
           std::equal(model.history.begin(), model.history.end(), seen.history.begin() + extra,
                      seen.history.end());
}

HTTPParser::IOB wlBody(const Step& step) {
    HTTPParser::IOB body;
    for (auto [op, key] : step.changes) {
        uint8_t record[WhitelistChange::kSize];
        WhitelistChange{uint8_t(op != 0 ? 1 : 0), key}.encode(record);
        body.append(record, sizeof record);
    }
    return body;
}

WlModel observe(CommonWhitelist& store) {
    WlModel seen;
    seen.base = store.historyBase();
    HTTPParser::IOB body;
    uint32_t newIndex = 0;
    store.getUpdates(seen.base, body, newIndex);
    for (uint32_t at = 0; at + WhitelistChange::kSize <= body.length();
         at += WhitelistChange::kSize) {
        const WhitelistChange change = WhitelistChange::decode(body.data() + at);
        const int64_t key = change.key;  // a packed member binds to no reference
        seen.history.emplace_back(change.op, key);
    }
    for (int64_t key = 0; key < 7; ++key) {
        if (store.containsKey(key))
            seen.keys.insert(key);
    }
    EXPECT_EQ(store.keyCount(), seen.keys.size());
    return seen;
}

// Runs the steps against a store in folder; durable[i] is what the files must hold after
// step i. With report, the number of finished steps goes there after each step.
void runWhitelist(const std::vector<Step>& steps, const std::string& folder, bool check,
                  std::vector<WlModel>* durable, int report) {
    auto store = std::make_unique<CommonWhitelist>();
    store->load(folder);
    WlModel model, saved;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        if (step.op == Op::push) {
            uint32_t newIndex = 0;
            HTTPParser::IOB body = wlBody(step);
            const bool ok = store->push(body, step.maxSize, folder, newIndex);
            if (check) {
                EXPECT_TRUE(ok);
            }
            model.push(step);
            saved = model;
        } else if (step.op == Op::clear) {
            store->clear(folder);
            model = saved = WlModel{};
        } else {
            if (step.op == Op::restart) {
                store->save(folder);
                saved = model;
            }
            store = std::make_unique<CommonWhitelist>();
            store->load(folder);
            model = saved;
        }
        if (durable != nullptr)
            durable->push_back(saved);
        if (check) {
            EXPECT_EQ(observe(*store), model) << "step " << i;
        }
        if (report >= 0) {
            const char done = 1;
            (void)!write(report, &done, 1);
        }
    }
}

// ---- the training database and its model

struct TdbRecord {
    uint32_t label;
    int32_t status;
    int64_t set;  // descriptor d has the one value d, so no two share a fingerprint
    bool operator==(const TdbRecord&) const = default;
};

struct TdbModel {
    std::vector<TdbRecord> file;
    size_t first = 0;    // file position of history entry base
    size_t cleared = 0;  // records before it a clear put out of reach
    uint32_t base = 0;

    uint32_t end() const { return base + uint32_t(file.size() - first); }
    size_t fingerprints() const {
        std::set<int64_t> sets;
        for (const TdbRecord& r : file)
            sets.insert(r.set);
        return sets.size();
    }
    void compact(uint32_t maxCount) {
        const size_t n = fingerprints();
        if (n <= maxCount)
            return;
        const size_t drop = n - maxCount;
        file.erase(file.begin(), file.begin() + std::ptrdiff_t(drop));
        cleared = cleared >= drop ? cleared - drop : 0;
        if (first < drop)
            base += uint32_t(drop - first);
        first = first >= drop ? first - drop : 0;
    }
    void push(const Step& step) {
        for (auto [label, set] : step.changes) {
            auto newest = std::find_if(file.rbegin(), file.rend(),
                                       [set = set](const TdbRecord& r) { return r.set == set; });
            const bool fresh = first == file.size() ||
                               (newest != file.rend() && size_t(file.rend() - newest) <= cleared);
            if (newest != file.rend() && newest->label == label + 1u && !fresh) {
                newest->status = 1;
                continue;
            }
            if (newest != file.rend() && newest->label == label + 1u) {
                file.push_back(TdbRecord{label + 1u, 1, set});  // anew after a clear
                continue;
            }
            if (newest != file.rend())
                *newest = TdbRecord{label + 1u, 1000, set};
            file.push_back(TdbRecord{label + 1u, 1, set});
        }
        const size_t held = file.size() - first;
        if (held > step.maxSize) {
            base += uint32_t(held - step.maxSize);
            first += held - step.maxSize;
        }
        compact(step.maxSize);
    }
    void clear() {
        first = cleared = file.size();
        base = 0;
        compact(0);
    }
    std::string bytes(size_t from) const {
        std::string out;
        for (size_t i = from; i < file.size(); ++i)
            out += record(file[i].label, file[i].status, {file[i].set});
        return out;
    }
};

HTTPParser::IOB tdbBody(const Step& step) {
    HTTPParser::IOB body;
    std::string bytes;
    for (auto [label, set] : step.changes)
        bytes += record(label + 1u, 1, {set});
    fill(body, bytes);
    return body;
}

std::string pullAll(CommonTrainingDb& db, uint32_t from, uint32_t& end) {
    std::string all;
    end = from;
    for (int page = 0; page < 100 && end < db.end(); ++page) {
        HTTPParser::IOB body;
        uint32_t newIndex = 0;
        EXPECT_TRUE(db.getUpdates(end, body, newIndex));
        all += contents(body);
        end = newIndex;
    }
    return all;
}

void expectSame(CommonTrainingDb& db, const TdbModel& model, size_t step) {
    EXPECT_EQ(db.historyBase(), model.base) << "step " << step;
    EXPECT_EQ(db.end(), model.end()) << "step " << step;
    uint32_t end = 0;
    EXPECT_EQ(pullAll(db, model.base, end), model.bytes(model.first)) << "step " << step;
    // A client in the middle receives exactly what follows its index.
    if (model.end() > model.base + 1) {
        EXPECT_EQ(pullAll(db, model.base + 1, end), model.bytes(model.first + 1))
            << "step " << step;
    }
}

void runTrainingDb(const std::vector<Step>& steps, const std::string& folder, bool check,
                   std::vector<TdbModel>* durable, int report) {
    auto db = std::make_unique<CommonTrainingDb>();
    db->load(folder);
    TdbModel model, saved;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        if (step.op == Op::push) {
            HTTPParser::IOB body = tdbBody(step);
            uint32_t newIndex = 0;
            const bool ok = db->push(body, step.maxSize, newIndex);
            if (check) {
                EXPECT_TRUE(ok);
            }
            model.push(step);
        } else if (step.op == Op::clear) {
            db->clear();
            model.clear();
        } else {
            if (step.op == Op::restart)
                db->flush();
            db = std::make_unique<CommonTrainingDb>();
            db->load(folder);
        }
        saved = model;
        if (durable != nullptr)
            durable->push_back(saved);
        if (check)
            expectSame(*db, model, i);
        if (report >= 0) {
            const char done = 1;
            (void)!write(report, &done, 1);
        }
    }
}

// Runs run(report) in a child that dies at its nth file operation; returns the number of
// steps it finished, and whether it died.
template <typename Run>
std::pair<size_t, bool> runUntilCrash(int n, Run run) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {0, false};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        FaultyFileOps ops;
        ops.crashAt(n);
        run(pipeFds[1]);
        _exit(3);
    }
    close(pipeFds[1]);
    size_t done = 0;
    char byte;
    while (read(pipeFds[0], &byte, 1) == 1)
        ++done;
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {done, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

}  // namespace

TEST(StoreModel, WhitelistFollowsTheModelThroughRestartsAndCrashes) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        TempFolder dir;
        runWhitelist(randomSteps(seed, 60), dir.folder(), true, nullptr, -1);
    }
}

TEST(StoreModel, TrainingDbFollowsTheModelThroughRestartsAndCrashes) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        TempFolder dir;
        runTrainingDb(randomSteps(seed, 60), dir.folder(), true, nullptr, -1);
    }
}

TEST(StoreModel, WhitelistCrashAtEveryFileOperation) {
    const std::vector<Step> steps = randomSteps(11, 12);
    std::vector<WlModel> durable;
    {
        TempFolder dry;
        runWhitelist(steps, dry.folder(), false, &durable, -1);
    }
    for (int n = 1;; ++n) {
        TempFolder dir;
        auto [done, died] = runUntilCrash(
            n, [&](int report) { runWhitelist(steps, dir.folder(), false, nullptr, report); });
        CommonWhitelist loaded;
        ASSERT_TRUE(loaded.load(dir.folder()));
        const WlModel seen = observe(loaded);
        const WlModel before = done == 0 ? WlModel{} : durable[done - 1];
        const WlModel& after = durable[std::min(done, durable.size() - 1)];
        EXPECT_TRUE(heldBy(seen, before) || heldBy(seen, after)) << "crash at operation " << n;
        if (!died)
            break;
        ASSERT_LT(n, 5000);
    }
}

TEST(StoreModel, TrainingDbCrashAtEveryFileOperation) {
    const std::vector<Step> steps = randomSteps(12, 12);
    std::vector<TdbModel> durable;
    {
        TempFolder dry;
        runTrainingDb(steps, dry.folder(), false, &durable, -1);
    }
    for (int n = 1;; ++n) {
        TempFolder dir;
        auto [done, died] = runUntilCrash(
            n, [&](int report) { runTrainingDb(steps, dir.folder(), false, nullptr, report); });
        CommonTrainingDb loaded;
        ASSERT_TRUE(loaded.load(dir.folder()));
        const TdbModel before = done == 0 ? TdbModel{} : durable[done - 1];
        const TdbModel& after = durable[std::min(done, durable.size() - 1)];
        // Nothing acknowledged is lost, and each index names the record it named before;
        // a crash may leave part of the push in flight, each record at its own index.
        const bool clearing = done < steps.size() && steps[done].op == Op::clear;
        const uint32_t base = loaded.historyBase();
        if (!clearing) {
            EXPECT_TRUE(base == before.base || base == after.base) << "crash at operation " << n;
            EXPECT_GE(loaded.end(), before.end()) << "crash at operation " << n;
            EXPECT_LE(loaded.end(), after.end()) << "crash at operation " << n;
        }
        const auto valueAt = [](const TdbModel& model, uint32_t index) {
            if (index < model.base || index >= model.end())
                return std::string("none");
            return le64(uint64_t(model.file[model.first + (index - model.base)].set));
        };
        for (uint32_t index = base; index < loaded.end(); ++index) {
            HTTPParser::IOB body;
            uint32_t newIndex = 0;
            ASSERT_TRUE(loaded.getUpdates(index, body, newIndex));
            const std::string got = contents(body).substr(12, 8);
            if (clearing) {
                EXPECT_TRUE(got == valueAt(before, index) || got == valueAt(after, index))
                    << "crash at operation " << n << " index " << index;
            } else {
                EXPECT_EQ(got,
                          index < before.end() ? valueAt(before, index) : valueAt(after, index))
                    << "crash at operation " << n << " index " << index;
            }
        }
        if (!died)
            break;
        ASSERT_LT(n, 5000);
    }
}

#pragma once

// Shared by the crash-state tests of both stores: the steps of a recorded workload, which
// of them a crash at a given moment may show, and a tally of the states that failed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/CrashStates.h"
#include "tests/support/TempFolder.h"

// VS_CRASH_STATES=large explores many more states per crash point (minutes, not seconds).
inline CrashStates::Breadth crashBreadth() {
    const char* value = std::getenv("VS_CRASH_STATES");
    return value != nullptr && std::string(value) == "large" ? CrashStates::Breadth::large
                                                             : CrashStates::Breadth::quick;
}

struct WorkloadStep {
    std::string what;
    size_t begin = 0, end = 0;  // recorded operations before and after it
    // Clients were told it succeeded (a push) or the store said its state is on the disk
    // (a save or flush): no later crash may lose it.
    bool acknowledged = false;
};

// A crash after `point` operations may show the state after any step from the last
// acknowledged one to the last one begun (the one in flight, when point < its end).
struct CrashWindow {
    size_t first = 0, last = 0;
    bool inFlight = false;
};

inline CrashWindow crashWindow(const std::vector<WorkloadStep>& steps, size_t point) {
    CrashWindow window;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].acknowledged && steps[i].end <= point)
            window.first = i;
        if (steps[i].begin <= point)
            window.last = i;
    }
    window.inFlight = point < steps[window.last].end;
    return window;
}

class CrashTally {
  public:
    // Failures of these kinds are store faults still to be fixed: counted and shown, but
    // they do not fail the test.
    explicit CrashTally(std::set<std::string> known) : known_(std::move(known)) {}

    void note(const std::string& kind, const std::string& how) {
        auto& entry = kinds_[kind];
        if (entry.first++ == 0)
            entry.second = how;
        ++failed_;
    }
    void count() { ++states_; }

    // Prints the figures and fails for every kind not known.
    void expectOnlyKnown(const std::string& title) const {
        std::cout << title << ": " << states_ << " states, " << failed_ << " failed\n";
        for (const auto& [kind, entry] : kinds_) {
            const bool known = known_.count(kind) != 0;
            std::cout << "  " << (known ? "known: " : "") << kind << ": " << entry.first
                      << " states, e.g. " << entry.second << "\n";
            EXPECT_TRUE(known) << kind << " (" << entry.first << " states), e.g. " << entry.second;
        }
    }
    size_t states() const { return states_; }

  private:
    std::set<std::string> known_;
    std::map<std::string, std::pair<size_t, std::string>> kinds_;
    size_t states_ = 0, failed_ = 0;
};

// The folders of one exploration, on one file system: the workload's, the vault that
// keeps every inode it made, and the one each state is rebuilt in.
struct CrashFolders {
    TempFolder root;
    std::string work = root.file("work"), vault = root.file("vault"), state = root.file("state");
    CrashFolders() {
        std::filesystem::create_directory(work);
        std::filesystem::create_directory(state);
    }
};

// The recorded files as the workload left them must be exactly the real ones: a file
// operation that passed the recorder by would make every state below wrong.
inline void expectRecordMatchesDisk(const CrashStates& states, const CrashFolders& folders) {
    const CrashState all = states.everything();
    std::map<std::string, std::string> recorded, real;
    for (const auto& [name, inode] : all.names)
        recorded[name] = all.contents.at(inode);
    for (const auto& entry : std::filesystem::directory_iterator(folders.work)) {
        std::ifstream in(entry.path(), std::ios::binary);
        real[entry.path().filename()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_EQ(recorded.size(), real.size());
    for (const auto& [name, bytes] : real)
        EXPECT_TRUE(recorded[name] == bytes) << name;
}

// Rebuilds each state of crash points from..to and hands it to check, which returns the
// problem found ("" for none); a problem's kind names the step the crash fell into.
inline void exploreCrashes(CrashStates& states, const CrashFolders& folders,
                           const std::vector<WorkloadStep>& steps, size_t from, size_t to,
                           CrashTally& tally,
                           const std::function<std::string(const CrashWindow&)>& check) {
    // Loads that write sync nothing: the states are thrown away, and syncs cost seconds.
    struct NoSyncOps : FileOps {
        NoSyncOps() { setFileOps(this); }
        ~NoSyncOps() override { setFileOps(nullptr); }
        int sync(int) override { return 0; }
    } noSync;
    states.explore(from, to, crashBreadth(), [&](const CrashState& state) {
        tally.count();
        if (!states.materialize(state, folders.state)) {
            tally.note("state could not be rebuilt", state.how);
            return;
        }
        const CrashWindow window = crashWindow(steps, state.point);
        const std::string problem = check(window);
        if (!problem.empty())
            tally.note(steps[window.last].what + ": " + problem, state.how);
    });
}

// An answered clear must hold in every state a power loss can leave from the moment it
// was answered on: each loads to an empty history, and a pull from 0 answers nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "storage/CommonTrainingDb.h"
#include "storage/CommonWhitelist.h"
#include "tests/storage/CrashExplorer.h"

namespace {

HTTPParser::IOB bodyOf(const std::string& bytes) {
    HTTPParser::IOB body;
    body.append(bytes.data(), uint32_t(bytes.size()));
    return body;
}

std::string descriptors(int first, int count) {
    std::string bytes;
    for (int i = first; i < first + count; ++i) {
        MessageDescriptor descriptor;
        descriptor.label = 1;
        descriptor.status = MessageDescriptor::kCurrent;
        descriptor.addValue(i);
        descriptor.encode(bytes);
    }
    return bytes;
}

std::string keys(int first, int count) {
    std::string bytes;
    for (int64_t key = first; key < first + count; ++key) {
        bytes += char(1);
        bytes.append(reinterpret_cast<const char*>(&key), 8);
    }
    return bytes;
}

// Runs the workload under the recorder; returns the operations issued before the answer.
struct Case {
    const char* name;
    std::function<size_t(const std::string& folder, FileOpRecorder& recorder)> workload;
    // Pulls from 0 in the state's folder: the bytes answered (empty when cleared).
    std::function<std::string(const std::string& folder)> pullAll;
};

}  // namespace

TEST(ClearCrashStates, AnAnsweredClearHoldsInEveryLaterPowerLossState) {
    const Case cases[] = {
        {"whitelist",
         [](const std::string& folder, FileOpRecorder& recorder) {
             CommonWhitelist store;
             uint32_t index = 0;
             EXPECT_TRUE(store.load(folder));
             EXPECT_TRUE(store.push(bodyOf(keys(1, 3)), 100, folder, index));
             EXPECT_TRUE(store.clear(folder));
             return recorder.ops().size();
         },
         [](const std::string& folder) {
             CommonWhitelist store;
             HTTPParser::IOB body;
             uint32_t index = 0;
             return store.load(folder) && store.getUpdates(0, body, index)
                        ? std::string(reinterpret_cast<const char*>(body.data()), body.length())
                        : std::string("load failed");
         }},
        {"training database, idle",
         [](const std::string& folder, FileOpRecorder& recorder) {
             CommonTrainingDb store;
             uint32_t index = 0;
             EXPECT_TRUE(store.load(folder));
             EXPECT_TRUE(store.push(bodyOf(descriptors(1, 3)), 100, index));
             EXPECT_TRUE(store.clear());
             return recorder.ops().size();
         },
         nullptr},
        // The clear that used to be left to the commit of the group it fell into.
        {"training database, in an open group",
         [](const std::string& folder, FileOpRecorder& recorder) {
             CommonTrainingDb store;
             uint32_t index = 0;
             EXPECT_TRUE(store.load(folder));
             EXPECT_TRUE(store.push(bodyOf(descriptors(1, 3)), 100, index));
             EXPECT_TRUE(store.applyPending(bodyOf(descriptors(10, 2)), index));
             EXPECT_TRUE(store.clear());
             return recorder.ops().size();
         },
         nullptr},
    };
    const std::function<std::string(const std::string&)> pullTrainingDb =
        [](const std::string& folder) {
            CommonTrainingDb store;
            HTTPParser::IOB body;
            uint32_t index = 0;
            return store.load(folder) && store.getUpdates(0, body, index)
                       ? std::string(reinterpret_cast<const char*>(body.data()), body.length())
                       : std::string("load failed");
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CrashFolders folders;
        const std::string work = folders.work + "/", state = folders.state + "/";
        FileOpRecorder recorder(folders.work, folders.vault);
        const size_t answered = c.workload(work, recorder);
        CrashStates states(recorder);
        size_t failures = 0;
        const size_t visited = states.explore(
            answered, recorder.ops().size(), crashBreadth(), [&](const CrashState& s) {
                ASSERT_TRUE(states.materialize(s, folders.state));
                const std::string served = (c.pullAll ? c.pullAll : pullTrainingDb)(state);
                if (!served.empty() && failures++ == 0)
                    ADD_FAILURE() << "after a crash at " << s.point << " (" << s.how
                                  << ") the cleared store serves " << served.size() << " bytes";
            });
        EXPECT_GT(visited, 0u);
        EXPECT_EQ(failures, 0u);
    }
}

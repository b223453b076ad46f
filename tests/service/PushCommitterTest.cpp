// The committer's promises: pushes that arrive while a commit is under way share the
// next one, no push is answered before the commit that covers it has ended, and a
// failed commit fails exactly the pushes it covered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "apps/VantorSyncSvc/PushCommitter.h"

namespace {

struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint32_t> applied;              // session ids, in order
    std::vector<std::vector<uint32_t>> groups;  // session ids per commit
    std::map<uint32_t, bool> answers;           // session id -> ok
    size_t answersAtCommitEnd = 0;
    bool holdFirstCommit = true, inFirstCommit = false, released = false;
    int commits = 0;

    template <typename Pred>
    void waitFor(Pred pred) {
        std::unique_lock<std::mutex> guard(mutex);
        changed.wait(guard, pred);
    }
};

std::unique_ptr<RequestItem> pushItem(uint32_t sessionId) {
    auto item = std::make_unique<RequestItem>();
    item->sessionId = sessionId;
    return item;
}

}  // namespace

TEST(PushCommitter, PushesDuringACommitShareTheNextAndAFailedCommitFailsExactlyThem) {
    Recorder r;
    std::vector<uint32_t> sinceCommit;
    PushCommitter committer(
        [&](const HTTPParser::IOB&, uint32_t& newIndex) {
            std::lock_guard<std::mutex> guard(r.mutex);
            newIndex = uint32_t(r.applied.size() + 1);
            // The session id comes back through the answer; here the order tells.
            r.applied.push_back(newIndex);
            sinceCommit.push_back(newIndex);
            return true;
        },
        [&] {
            std::unique_lock<std::mutex> guard(r.mutex);
            const int commit = ++r.commits;
            r.groups.push_back(sinceCommit);
            sinceCommit.clear();
            if (commit == 1) {
                r.inFirstCommit = true;
                r.changed.notify_all();
                r.changed.wait(guard, [&] { return r.released; });
            }
            // Nothing of this group may have been answered yet.
            r.answersAtCommitEnd = r.answers.size();
            return commit != 2;  // the second commit fails
        },
        [&](std::unique_ptr<RequestItem> item, bool ok, uint32_t) {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.answers[item->sessionId] = ok;
            r.changed.notify_all();
        });
    ASSERT_TRUE(committer.start());

    auto first = pushItem(1);
    ASSERT_TRUE(committer.submit(first));
    r.waitFor([&] { return r.inFirstCommit; });
    for (uint32_t id : {2u, 3u, 4u}) {
        auto item = pushItem(id);
        ASSERT_TRUE(committer.submit(item));
    }
    {
        std::lock_guard<std::mutex> guard(r.mutex);
        EXPECT_TRUE(r.answers.empty());  // held commit: nobody answered
        r.released = true;
        r.changed.notify_all();
    }
    r.waitFor([&] { return r.answers.size() == 4; });
    auto fifth = pushItem(5);
    ASSERT_TRUE(committer.submit(fifth));
    committer.stop();  // answers what it took before it ends

    ASSERT_EQ(r.groups.size(), 3u);
    EXPECT_EQ(r.groups[0], (std::vector<uint32_t>{1}));
    EXPECT_EQ(r.groups[1], (std::vector<uint32_t>{2, 3, 4}));
    EXPECT_EQ(r.answers,
              (std::map<uint32_t, bool>{{1, true}, {2, false}, {3, false}, {4, false}, {5, true}}));
    EXPECT_EQ(r.answersAtCommitEnd, 4u);  // the third commit ended before push 5's answer
}

TEST(PushCommitter, RefusesWhenNotRunning) {
    PushCommitter committer([](const HTTPParser::IOB&, uint32_t&) { return true; },
                            [] { return true; },
                            [](std::unique_ptr<RequestItem>, bool, uint32_t) {});
    auto item = pushItem(1);
    EXPECT_FALSE(committer.submit(item));
    EXPECT_NE(item, nullptr);  // left with the caller, who answers it
}

TEST(PushCommitter, SettleAnswersTheGroupInHandAndDropsTheWaitingOnes) {
    Recorder r;
    PushCommitter committer(
        [&](const HTTPParser::IOB&, uint32_t&) {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.applied.push_back(0);
            return true;
        },
        [&] {
            std::unique_lock<std::mutex> guard(r.mutex);
            if (++r.commits == 1) {
                r.inFirstCommit = true;
                r.changed.notify_all();
                r.changed.wait(guard, [&] { return r.released; });
            }
            return true;
        },
        [&](std::unique_ptr<RequestItem> item, bool ok, uint32_t) {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.answers[item->sessionId] = ok;
        });
    ASSERT_TRUE(committer.start());
    for (uint32_t id : {1u, 2u, 3u}) {
        auto item = pushItem(id);
        ASSERT_TRUE(committer.submit(item));
        if (id == 1)
            r.waitFor([&] { return r.inFirstCommit; });
    }
    std::atomic<bool> settled{false};
    std::thread settling([&] {
        committer.settle();
        settled = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(settled.load());  // push 1 is still in its commit
    {
        std::lock_guard<std::mutex> guard(r.mutex);
        r.released = true;
        r.changed.notify_all();
    }
    settling.join();
    {
        std::lock_guard<std::mutex> guard(r.mutex);
        EXPECT_EQ(r.answers, (std::map<uint32_t, bool>{{1, true}}));
        EXPECT_EQ(r.applied.size(), 1u);
    }
    auto later = pushItem(4);  // still running for the next start
    ASSERT_TRUE(committer.submit(later));
    committer.stop();
    EXPECT_EQ(r.answers.size(), 2u);
}

TEST(PushCommitter, APushFromInsideIsAnsweredThroughItsTicketAlsoWhenSettledUnapplied) {
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = true, inCommit = false;
    std::atomic<bool> committed{true};
    std::atomic<int> connectionAnswers{0};
    PushCommitter committer(
        [](const HTTPParser::IOB& body, uint32_t&) { return body.length() > 0; },
        [&] {
            std::unique_lock<std::mutex> guard(mutex);
            inCommit = true;
            changed.notify_all();
            changed.wait(guard, [&] { return !holding; });
            return committed.load();
        },
        [&](std::unique_ptr<RequestItem>, bool, uint32_t) { ++connectionAnswers; });
    ASSERT_TRUE(committer.start());
    auto body = [](const char* text) {
        HTTPParser::IOB iob;
        const bool appended = *text == 0 || iob.append(text, uint32_t(strlen(text)));
        EXPECT_TRUE(appended);
        return iob;
    };
    auto first = committer.submitInternal(body("x"));
    ASSERT_TRUE(first);
    {
        std::unique_lock<std::mutex> guard(mutex);
        changed.wait(guard, [&] { return inCommit; });
    }
    // Queued behind the held commit, then dropped by a stop of the HTTP server.
    auto dropped = committer.submitInternal(body("y"));
    ASSERT_TRUE(dropped);
    std::thread settler([&] { committer.settle(); });
    // Time for the settler to take the queue; a late one would let the push be applied.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
        std::lock_guard<std::mutex> guard(mutex);
        holding = false;
    }
    changed.notify_all();
    settler.join();
    EXPECT_TRUE(first->wait());
    EXPECT_FALSE(dropped->wait());
    // An empty body is refused by the apply step, and the ticket says so.
    auto refused = committer.submitInternal(body(""));
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->wait());
    EXPECT_EQ(connectionAnswers.load(), 0);
    committer.stop();
    EXPECT_FALSE(committer.submitInternal(body("z")));
}

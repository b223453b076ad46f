#pragma once

// Pushes must not hold up the request worker while their data goes to disk, and the
// pushes that arrive during one save should share the next one. A committer owns one
// collection's pushes: its thread applies every push that is waiting, makes all of them
// durable with one commit, and only then hands each push its answer.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "http/IOB.h"
#include "net/RequestHandler.h"
#include "platform/AutoLock.h"

class PushCommitter {
  public:
    // Applies one push in memory (newIndex as the client is to learn it); false fails it.
    using Apply = std::function<bool(const HTTPParser::IOB& body, uint32_t& newIndex)>;
    // Makes every push applied since the last commit durable; false takes all of them back.
    using Commit = std::function<bool()>;
    // Hands a push its answer once the commit that covers it has ended.
    using Done = std::function<void(std::unique_ptr<RequestItem> item, bool ok, uint32_t newIndex)>;
    // Work the next commit would otherwise do first, done once a group's answers are out.
    using AfterGroup = std::function<void()>;

    // At most this many pushes wait; one group takes at most kGroupLimit of them.
    static constexpr size_t kQueueLimit = 10000;
    static constexpr size_t kGroupLimit = 1024;

    PushCommitter(Apply apply, Commit commit, Done done, AfterGroup afterGroup = nullptr);
    ~PushCommitter();

    PushCommitter(const PushCommitter&) = delete;
    PushCommitter& operator=(const PushCommitter&) = delete;

    bool start();
    // Answers every push already taken, then ends the thread.
    void stop();
    // For a stop of the HTTP server, whose connections are gone: the pushes still waiting
    // are dropped unapplied and unanswered, and the group in hand is answered before this
    // returns, so no answer of the old connections is still on its way afterwards.
    void settle();
    // False (item untouched) when the queue is full or the committer is not running.
    bool submit(std::unique_ptr<RequestItem>& item);

    // A push from inside the service (an import), answered through its ticket instead of
    // a connection. It takes the same road as a client's: applied, committed with its
    // group, durable before it counts. Its caller waits for each, so it is not held to
    // kQueueLimit. Null when the committer is not running.
    class Ticket {
      public:
        // Until the push was committed or refused: true once it is durable.
        bool wait();

      private:
        friend class PushCommitter;
        void finish(bool ok);
        std::mutex mutex_;
        std::condition_variable done_;
        bool finished_ = false;
        bool ok_ = false;
    };
    std::shared_ptr<Ticket> submitInternal(HTTPParser::IOB&& body);

  private:
    struct Queued {
        std::unique_ptr<RequestItem> item;
        std::shared_ptr<Ticket> ticket;  // set for a push from inside the service
    };
    struct Pending {
        std::unique_ptr<RequestItem> item;
        std::shared_ptr<Ticket> ticket;
        bool applied = false;
        uint32_t newIndex = 0;
    };
    void loop();

    const Apply apply_;
    const Commit commit_;
    const Done done_;
    const AfterGroup afterGroup_;
    CriticalSection lock_;
    std::condition_variable_any signal_;
    std::deque<Queued> queue_ GUARDED_BY(lock_);
    bool running_ GUARDED_BY(lock_) = false;
    bool stopping_ GUARDED_BY(lock_) = false;
    // A group taken from the queue whose answers have not all been handed out yet.
    bool groupInHand_ GUARDED_BY(lock_) = false;
    std::condition_variable_any groupDone_;
    std::thread thread_;
};

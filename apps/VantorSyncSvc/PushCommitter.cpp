#include "apps/VantorSyncSvc/PushCommitter.h"

#include <new>
#include <utility>
#include <vector>

PushCommitter::PushCommitter(Apply apply, Commit commit, Done done, AfterGroup afterGroup)
    : apply_(std::move(apply)),
      commit_(std::move(commit)),
      done_(std::move(done)),
      afterGroup_(std::move(afterGroup)) {}

PushCommitter::~PushCommitter() {
    stop();
}

bool PushCommitter::start() {
    AutoLock guard(lock_);
    if (running_)
        return true;
    stopping_ = false;
    try {
        thread_ = std::thread(&PushCommitter::loop, this);
    } catch (const std::exception&) {
        return false;
    }
    running_ = true;
    return true;
}

void PushCommitter::stop() {
    {
        AutoLock guard(lock_);
        if (!running_)
            return;
        stopping_ = true;
    }
    signal_.notify_all();
    thread_.join();
    AutoLock guard(lock_);
    running_ = false;
}

void PushCommitter::settle() {
    std::deque<Queued> dropped;
    {
        AutoLock guard(lock_);
        dropped.swap(queue_);
        while (groupInHand_)
            groupDone_.wait(lock_);
    }
    // A push from inside has a caller waiting: it learns that nothing of it was applied.
    for (Queued& queued : dropped) {
        if (queued.ticket)
            queued.ticket->finish(false);
    }
}

bool PushCommitter::submit(std::unique_ptr<RequestItem>& item) {
    {
        AutoLock guard(lock_);
        if (!running_ || stopping_ || queue_.size() >= kQueueLimit)
            return false;
        try {
            queue_.push_back(Queued{std::move(item), nullptr});
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    signal_.notify_one();
    return true;
}

std::shared_ptr<PushCommitter::Ticket> PushCommitter::submitInternal(HTTPParser::IOB&& body) {
    auto item = std::make_unique<RequestItem>();
    item->request.getBody() = std::move(body);
    auto ticket = std::make_shared<Ticket>();
    {
        AutoLock guard(lock_);
        if (!running_ || stopping_)
            return nullptr;
        queue_.push_back(Queued{std::move(item), ticket});
    }
    signal_.notify_one();
    return ticket;
}

bool PushCommitter::Ticket::wait() {
    std::unique_lock<std::mutex> guard(mutex_);
    done_.wait(guard, [this] { return finished_; });
    return ok_;
}

void PushCommitter::Ticket::finish(bool ok) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        finished_ = true;
        ok_ = ok;
    }
    done_.notify_all();
}

void PushCommitter::loop() {
    std::vector<Pending> group;
    for (;;) {
        group.clear();
        {
            AutoLock guard(lock_);
            while (!stopping_ && queue_.empty())
                signal_.wait(lock_);
            if (queue_.empty())
                return;  // stopping, and every push taken has been answered
            // Whatever arrived while the last commit was on its way goes into this one.
            while (!queue_.empty() && group.size() < kGroupLimit) {
                group.push_back(
                    Pending{std::move(queue_.front().item), std::move(queue_.front().ticket)});
                queue_.pop_front();
            }
            groupInHand_ = true;
        }
        for (Pending& push : group)
            push.applied = apply_(push.item->request.getBody(), push.newIndex);
        // Acknowledged means durable: no answer goes out before the commit has ended.
        const bool committed = commit_();
        for (Pending& push : group) {
            if (push.ticket)
                push.ticket->finish(push.applied && committed);
            else
                done_(std::move(push.item), push.applied && committed, push.newIndex);
        }
        // Still in hand, so that a stop or settle waits for it too.
        if (afterGroup_)
            afterGroup_();
        {
            AutoLock guard(lock_);
            groupInHand_ = false;
        }
        groupDone_.notify_all();
    }
}

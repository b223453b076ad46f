#include "apps/VantorSyncSvc/PushCommitter.h"

#include <new>
#include <utility>
#include <vector>

PushCommitter::PushCommitter(Apply apply, Commit commit, Done done)
    : apply_(std::move(apply)), commit_(std::move(commit)), done_(std::move(done)) {}

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
    std::deque<std::unique_ptr<RequestItem>> dropped;
    AutoLock guard(lock_);
    dropped.swap(queue_);
    while (groupInHand_)
        groupDone_.wait(lock_);
}

bool PushCommitter::submit(std::unique_ptr<RequestItem>& item) {
    {
        AutoLock guard(lock_);
        if (!running_ || stopping_ || queue_.size() >= kQueueLimit)
            return false;
        try {
            queue_.push_back(std::move(item));
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    signal_.notify_one();
    return true;
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
                group.push_back(Pending{std::move(queue_.front())});
                queue_.pop_front();
            }
            groupInHand_ = true;
        }
        for (Pending& push : group)
            push.applied = apply_(push.item->request.getBody(), push.newIndex);
        // Acknowledged means durable: no answer goes out before the commit has ended.
        const bool committed = commit_();
        for (Pending& push : group)
            done_(std::move(push.item), push.applied && committed, push.newIndex);
        {
            AutoLock guard(lock_);
            groupInHand_ = false;
        }
        groupDone_.notify_all();
    }
}

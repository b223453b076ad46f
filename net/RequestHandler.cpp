#include "net/RequestHandler.h"

#include <new>

#include "net/ThreadStarter.h"

template <class T>
RequestHandler<T>::~RequestHandler() {
    stop();
}

template <class T>
bool RequestHandler<T>::enqueue(uint32_t sessionId, const T& request) {
    AutoLock guard(lock_);
    // One more than the limit may wait: only a queue already beyond it refuses.
    if (queue_.size() > queueLimit_)
        return false;
    try {
        auto item = std::make_unique<RequestItem>();
        item->sessionId = sessionId;
        item->request = request;
        queue_.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        return false;
    }
    itemSignal_.notify_one();
    return true;
}

template <class T>
bool RequestHandler<T>::enqueue(uint32_t sessionId, T&& request) {
    HTTPParser::IOB body = std::move(request.getBody());
    AutoLock guard(lock_);
    if (queue_.size() > queueLimit_)
        return false;
    try {
        auto item = std::make_unique<RequestItem>();
        item->sessionId = sessionId;
        item->request = request;
        item->request.getBody() = std::move(body);
        queue_.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        return false;
    }
    itemSignal_.notify_one();
    return true;
}

template <class T>
bool RequestHandler<T>::start() {
    AutoLock guard(lock_);
    queueLimit_ = kQueueLimit;
    if (worker_.joinable())
        return true;
    stopping_ = false;
    ThreadStarter<RequestHandler<T>> starter(this, &RequestHandler<T>::workerLoop);
    worker_ = starter.start();
    return worker_.joinable();
}

template <class T>
void RequestHandler<T>::stop() {
    // Taken out under the lock, so that isRunning never reads the thread while it is joined;
    // the join itself waits outside, as the worker needs the lock to see stopping_.
    std::thread worker;
    {
        AutoLock guard(lock_);
        stopping_ = true;
        if (worker_.joinable() && worker_.get_id() == std::this_thread::get_id()) {
            worker_.detach();  // a handler stopping its own server: the loop ends on return
        } else {
            worker = std::move(worker_);
        }
    }
    itemSignal_.notify_all();
    if (worker.joinable())
        worker.join();
    AutoLock guard(lock_);
    queue_.clear();
}

template <class T>
size_t RequestHandler<T>::waitingCount() const {
    AutoLock guard(lock_);
    return queue_.size();
}

template <class T>
bool RequestHandler<T>::isRunning() const {
    AutoLock guard(lock_);
    return worker_.joinable();
}

template <class T>
void RequestHandler<T>::workerLoop() {
    for (;;) {
        std::unique_ptr<RequestItem> item;
        {
            AutoLock guard(lock_);
            while (!stopping_ && queue_.empty())
                itemSignal_.wait(lock_);
            if (stopping_)
                return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        // No lock while handling: the worker then takes the socket's locks.
        handleRequest(std::move(item));
    }
}

template class RequestHandler<HTTPParser::HTTPRequest>;

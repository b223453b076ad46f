#pragma once

#include <cstdint>

#include "http/BufferBudget.h"
#include "http/IOB.h"
#include "platform/AutoLock.h"

namespace HTTPParser {

// The body of an answer that many connections send unchanged, as the whitelist snapshot
// is: built once, never changed afterwards, and written to every connection straight from
// the same bytes, so a thousand clients pulling it cost one copy. Those bytes count against
// the buffer budget once, for as long as any connection still has them to send; a holder
// that sends nothing (a cache keeping it for the next pull) is not counted.
class SharedAnswer {
  public:
    explicit SharedAnswer(IOB&& bytes) : bytes_(std::move(bytes)) {}
    ~SharedAnswer();

    SharedAnswer(const SharedAnswer&) = delete;
    SharedAnswer& operator=(const SharedAnswer&) = delete;

    const uint8_t* data() const { return bytes_.data(); }
    uint32_t length() const { return bytes_.length(); }

    // A connection is about to send these bytes. The first sender charges them to budget
    // (no budget: nothing is counted): up to freeAllowance bytes always, more only when
    // they fit; later senders share that charge. False, with nothing counted, when they do
    // not fit. Every sender admitted must call releaseSender once.
    bool admitSender(BufferBudget* budget, uint32_t freeAllowance) const;
    // The connection is done with the bytes; the last sender gives the charge back.
    void releaseSender() const;

  private:
    const IOB bytes_;
    // Senders come and go on the worker and the I-O thread: the bookkeeping of an
    // immutable body, hence mutable.
    mutable CriticalSection lock_;
    mutable BufferBudget* charged_ GUARDED_BY(lock_) = nullptr;
    mutable uint32_t senders_ GUARDED_BY(lock_) = 0;
};

}  // namespace HTTPParser

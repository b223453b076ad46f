#pragma once

#include <atomic>
#include <cstdint>

namespace HTTPParser {

// The server-wide allowance for bytes held in request and response buffers. Every
// connection asks it before a buffer grows large, so many connections together
// cannot claim more memory than the operator allowed; bytes of transfers already
// under way are counted without asking, so they always finish.
class BufferBudget {
  public:
    explicit BufferBudget(uint64_t limit) : limit_(limit) {}

    BufferBudget(const BufferBudget&) = delete;
    BufferBudget& operator=(const BufferBudget&) = delete;

    // Counts n more bytes when they fit under the limit; false (nothing counted) if not.
    bool tryCharge(uint64_t n);
    // Counts n more bytes whatever the limit says.
    void charge(uint64_t n);
    void release(uint64_t n);
    // Notes that a large block went back to the system; see takeTrimHint.
    void noteFreed(uint64_t n);
    // True once after every few dozen megabytes freed: a good moment to ask the
    // allocator to hand its own free memory back as well.
    bool takeTrimHint();
    // Bytes freed since the last hint; a quiet server trims once these add up to a little.
    uint64_t freedSinceTrim() const { return freedSinceTrim_.load(); }
    void trimmed() { freedSinceTrim_.store(0); }

    uint64_t used() const { return used_.load(); }
    uint64_t limit() const { return limit_.load(); }
    void setLimit(uint64_t limit) { limit_.store(limit); }

  private:
    std::atomic<uint64_t> limit_;
    std::atomic<uint64_t> used_{0};
    std::atomic<uint64_t> freedSinceTrim_{0};
};

}  // namespace HTTPParser

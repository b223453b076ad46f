#include <algorithm>

#include "storage/CommonTrainingDb.h"

uint32_t CommonTrainingDb::beginExport() {
    AutoLock guard(lock_);
    // A commit in flight moves the durable end and may compact: the point is taken after it.
    while (committing_)
        commitEnded_.wait(lock_);
    ++exportHolds_;
    exportEnd_ = historyBase_ + uint32_t(servedSizeLocked());
    return exportEnd_;
}

void CommonTrainingDb::endExport() {
    {
        AutoLock guard(lock_);
        --exportHolds_;
    }
    commitEnded_.notify_all();
}

bool CommonTrainingDb::exportDescriptors(const std::function<bool(const MessageDescriptor&)>& sink,
                                         std::string& why) {
    HTTPParser::IOB page;
    MessageDescriptor descriptor;
    size_t position = 0;
    for (;;) {
        {
            AutoLock guard(lock_);
            // No commit ran since beginExport, so no trim, compaction or renumbering did
            // either: positions and offsets still name the records of that moment.
            const size_t served = exportEnd_ - historyBase_;
            if (position >= served)
                return true;
            const auto from = history_.begin() + std::ptrdiff_t(position);
            const auto limit = history_.begin() + std::ptrdiff_t(served);
            const int64_t pageEnd = int64_t(*from) + kPullPageBytes;
            const auto beyond = std::upper_bound(
                from + 1, limit, uint32_t(std::min<int64_t>(pageEnd, int64_t(UINT32_MAX))));
            const size_t count = size_t(beyond - from);
            page.clear();
            if (!file_.appendRecordsTo(&*from, count, page)) {
                why = "a record of the common training database could not be read";
                return false;
            }
            position += count;
        }
        uint32_t cursor = 0;
        while (descriptor.parse(page, cursor)) {
            // Superseded records carry their successor's label; the successor is exported.
            if (descriptor.status == MessageDescriptor::kCurrent && !sink(descriptor))
                return false;
        }
    }
}

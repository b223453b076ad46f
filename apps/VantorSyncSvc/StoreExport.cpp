#include "apps/VantorSyncSvc/CallerFile.h"
#include "apps/VantorSyncSvc/StoreTransfer.h"
#include "storage/ExportFormat.h"

namespace {

using ExportFormat::Section;

// Lines on their way to one caller file, written out in pieces of about kFlushBytes.
class LineOutput {
  public:
    static constexpr size_t kFlushBytes = 64 * 1024;

    explicit LineOutput(int fd) : file_(fd) {}
    std::string& text() { return text_; }
    bool flushWhenFull(std::string& why) { return text_.size() < kFlushBytes || flush(why); }
    bool flush(std::string& why) {
        const bool ok = file_.writeAll(text_.data(), text_.size(), why);
        text_.clear();
        return ok;
    }

  private:
    CallerFile file_;
    std::string text_;
};

// Commits of the training database wait from the export's point until its section is out.
class TrainingDbHold {
  public:
    explicit TrainingDbHold(CommonTrainingDb& store) : store_(store), index_(store.beginExport()) {}
    ~TrainingDbHold() { release(); }
    TrainingDbHold(const TrainingDbHold&) = delete;
    TrainingDbHold& operator=(const TrainingDbHold&) = delete;

    uint32_t index() const { return index_; }
    void release() {
        if (held_)
            store_.endExport();
        held_ = false;
    }

  private:
    CommonTrainingDb& store_;
    uint32_t index_;
    bool held_ = true;
};

bool writeTrainingDb(CommonTrainingDb& store, TrainingDbHold& hold, LineOutput& out,
                     TransferCounts& counts, std::string& why) {
    ExportFormat::appendSectionStart(out.text(), Section::TrainingDb, hold.index());
    const bool written = store.exportDescriptors(
        [&](const MessageDescriptor& descriptor) {
            ExportFormat::appendDescriptor(out.text(), descriptor.label, descriptor.values.data(),
                                           descriptor.values.size());
            ++counts.descriptors;
            return out.flushWhenFull(why);
        },
        why);
    hold.release();
    if (!written)
        return false;
    ExportFormat::appendSectionEnd(out.text(), Section::TrainingDb, counts.descriptors);
    return out.flush(why);
}

bool writeWhitelist(CommonWhitelist& store, const CommonWhitelist::ExportPoint& point,
                    LineOutput& out, TransferCounts& counts, std::string& why) {
    ExportFormat::appendSectionStart(out.text(), Section::Whitelist, point.index);
    const bool written = store.exportKeys(
        point,
        [&](const int64_t* keys, size_t count) {
            for (size_t i = 0; i < count; ++i)
                ExportFormat::appendKey(out.text(), keys[i]);
            counts.whitelistKeys += count;
            return out.flushWhenFull(why);
        },
        why);
    if (!written)
        return false;
    ExportFormat::appendSectionEnd(out.text(), Section::Whitelist, counts.whitelistKeys);
    return out.flush(why);
}

}  // namespace

bool exportStores(CommonWhitelist& whitelist, CommonTrainingDb& trainingDb, int whitelistFd,
                  int trainingDbFd, TransferCounts& counts, std::string& why) {
    counts = TransferCounts{};
    if (!CallerFile::check(whitelistFd, CallerFile::Access::Write, why) ||
        !CallerFile::check(trainingDbFd, CallerFile::Access::Write, why)) {
        return false;
    }
    const bool oneStream = CallerFile::sameFile(whitelistFd, trainingDbFd);
    LineOutput whitelistOut(whitelistFd);
    LineOutput ownTrainingDbOut(trainingDbFd);
    LineOutput& trainingDbOut = oneStream ? whitelistOut : ownTrainingDbOut;
    ExportFormat::appendHeader(whitelistOut.text());
    if (!oneStream)
        ExportFormat::appendHeader(trainingDbOut.text());

    // The training database's section goes first: its commits wait only while it is written.
    const CommonWhitelist::ExportPoint point = whitelist.exportPoint();
    TrainingDbHold hold(trainingDb);
    return writeTrainingDb(trainingDb, hold, trainingDbOut, counts, why) &&
           writeWhitelist(whitelist, point, whitelistOut, counts, why);
}

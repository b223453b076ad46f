#include <deque>
#include <memory>
#include <vector>

#include "apps/VantorSyncSvc/CallerFile.h"
#include "apps/VantorSyncSvc/StoreTransfer.h"
#include "storage/ByteOrder.h"
#include "storage/ExportReader.h"
#include "storage/MessageDescriptor.h"
#include "storage/WhitelistChange.h"

namespace {

using ExportFormat::Section;

// Turns the lines of one import into push bodies, one per batch, and hands them to the
// committers. One batch is read while the one before it is committed.
class BatchImporter final : public ExportReader::Handler {
  public:
    static constexpr size_t kBatchesInFlight = 2;

    BatchImporter(PushCommitter& whitelist, PushCommitter& trainingDb)
        : whitelist_(whitelist), trainingDb_(trainingDb) {}

    bool sectionStart(Section section, uint32_t) override {
        section_ = section;
        return true;
    }
    bool key(int64_t key) override {
        uint8_t record[WhitelistChange::kSize];
        WhitelistChange{WhitelistChange::kAdded, key}.encode(record);
        return append(record, sizeof record);
    }
    bool descriptor(uint32_t label, const std::vector<int64_t>& values) override {
        uint8_t head[MessageDescriptor::kHeaderSize];
        DescriptorRecord::encodeHeader(head, label, MessageDescriptor::kCurrent,
                                       uint32_t(values.size()));
        if (!batch_.append(head, sizeof head))
            return outOfMemory();
        for (int64_t value : values) {
            uint8_t bytes[8];
            Storage::storeLittleEndian64(bytes, uint64_t(value));
            if (!batch_.append(bytes, sizeof bytes))
                return outOfMemory();
        }
        return counted();
    }
    // The section is whole: its last batch may go.
    bool sectionEnd(Section, uint64_t) override { return send(); }
    std::string stopReason() const override { return why_; }

    // Waits for every batch still in flight; false when one of them was refused.
    bool settle() {
        bool ok = true;
        while (!inFlight_.empty())
            ok = waitOldest() && ok;
        return ok;
    }
    const TransferCounts& imported() const { return imported_; }

  private:
    struct Batch {
        std::shared_ptr<PushCommitter::Ticket> ticket;
        Section section;
        uint32_t records;
    };

    bool append(const uint8_t* bytes, uint32_t size) {
        return batch_.append(bytes, size) ? counted() : outOfMemory();
    }
    bool counted() {
        ++batchRecords_;
        return (batchRecords_ < kBatchRecords && batch_.length() < kBatchBytes) || send();
    }
    bool outOfMemory() {
        why_ = "the service could not hold the batch in memory";
        return false;
    }
    bool send() {
        if (batchRecords_ == 0)
            return true;
        PushCommitter& committer = section_ == Section::Whitelist ? whitelist_ : trainingDb_;
        std::shared_ptr<PushCommitter::Ticket> ticket = committer.submitInternal(std::move(batch_));
        batch_ = HTTPParser::IOB();
        const uint32_t records = batchRecords_;
        batchRecords_ = 0;
        if (!ticket) {
            why_ = "the service is stopping and takes no more pushes";
            return false;
        }
        inFlight_.push_back(Batch{std::move(ticket), section_, records});
        while (inFlight_.size() > kBatchesInFlight) {
            if (!waitOldest())
                return false;
        }
        return true;
    }
    bool waitOldest() {
        Batch batch = std::move(inFlight_.front());
        inFlight_.pop_front();
        if (!batch.ticket->wait()) {
            why_ = std::string("the common ") +
                   (batch.section == Section::Whitelist ? "whitelist" : "training database") +
                   " refused a batch of " + std::to_string(batch.records) +
                   " records (the collection is switched off in the configuration, or its "
                   "store could not save)";
            return false;
        }
        (batch.section == Section::Whitelist ? imported_.whitelistKeys : imported_.descriptors) +=
            batch.records;
        return true;
    }

    PushCommitter& whitelist_;
    PushCommitter& trainingDb_;
    Section section_ = Section::Whitelist;
    HTTPParser::IOB batch_;
    uint32_t batchRecords_ = 0;
    std::deque<Batch> inFlight_;
    TransferCounts imported_;
    std::string why_;
};

std::string importedText(const TransferCounts& counts) {
    return std::to_string(counts.whitelistKeys) + " whitelist keys and " +
           std::to_string(counts.descriptors) + " training descriptors";
}

}  // namespace

bool importStores(PushCommitter& whitelist, PushCommitter& trainingDb, int fd,
                  TransferCounts& counts, std::string& why) {
    counts = TransferCounts{};
    if (!CallerFile::check(fd, CallerFile::Access::Read, why))
        return false;
    CallerFile file(fd);
    BatchImporter importer(whitelist, trainingDb);
    ExportReader reader(importer);
    std::vector<char> buffer(64 * 1024);
    std::string readFailure;
    bool read = true;
    for (;;) {
        const ssize_t got = file.readSome(buffer.data(), buffer.size(), readFailure);
        if (got < 0) {
            read = false;
            break;
        }
        if (got == 0) {
            read = reader.finish();
            break;
        }
        if (!reader.feed(buffer.data(), size_t(got))) {
            read = false;
            break;
        }
    }
    // Batches in flight count once committed, also after a refusal further on.
    const bool settled = importer.settle();
    counts = importer.imported();
    if (read && settled)
        return true;
    if (!readFailure.empty())
        why = readFailure;
    else if (!reader.error().empty())
        why = reader.error();
    else
        why = importer.stopReason();
    why += ". Imported: " + importedText(counts) +
           ", in whole batches; nothing read after the last of them was imported";
    return false;
}

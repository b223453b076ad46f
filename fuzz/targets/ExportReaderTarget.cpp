// Export files as any bytes. The reader must refuse or accept the same input the same way
// whatever pieces it arrives in, name a line in every refusal, report only values in
// range, and an accepted input written out again by the writer must read back to exactly
// the same records.
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"
#include "storage/ExportReader.h"
#include "storage/MessageDescriptor.h"

namespace Fuzz {

namespace {

using ExportFormat::Section;

// Records what the reader reports, and writes it back in the format as it goes.
class Recorder final : public ExportReader::Handler {
  public:
    bool sectionStart(Section section, uint32_t index) override {
        ExportFormat::appendSectionStart(text, section, index);
        return true;
    }
    bool key(int64_t key) override {
        ExportFormat::appendKey(text, key);
        return true;
    }
    bool descriptor(uint32_t label, const std::vector<int64_t>& values) override {
        FUZZ_CHECK(values.size() <= MessageDescriptor::kMaxValues);
        ExportFormat::appendDescriptor(text, label, values.data(), values.size());
        return true;
    }
    bool sectionEnd(Section section, uint64_t records) override {
        ExportFormat::appendSectionEnd(text, section, records);
        return true;
    }
    std::string stopReason() const override { return "never stops"; }

    std::string text;
};

struct Outcome {
    bool accepted;
    std::string error;
    std::string records;
};

Outcome readInPieces(const uint8_t* data, size_t size, size_t piece) {
    Recorder recorder;
    ExportReader reader(recorder);
    bool ok = true;
    for (size_t at = 0; ok && at < size; at += piece)
        ok = reader.feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
    ok = ok && reader.finish();
    FUZZ_CHECK(ok == reader.error().empty());
    FUZZ_CHECK(ok || reader.error().rfind("line ", 0) == 0);
    FUZZ_CHECK(ok || reader.lineNumber() >= 1);
    return Outcome{ok, reader.error(), recorder.text};
}

}  // namespace

int exportReaderTarget(const uint8_t* data, size_t size) {
    const Outcome whole = readInPieces(data, size, size == 0 ? 1 : size);
    const size_t piece = size == 0 ? 1 : 1 + data[0] % 7;
    const Outcome pieces = readInPieces(data, size, piece);
    FUZZ_CHECK(whole.accepted == pieces.accepted);
    FUZZ_CHECK(whole.error == pieces.error);
    FUZZ_CHECK(whole.records == pieces.records);
    if (!whole.accepted)
        return 0;

    // What was accepted is the writer's own text again.
    std::string canonical;
    ExportFormat::appendHeader(canonical);
    canonical += whole.records;
    const Outcome again = readInPieces(reinterpret_cast<const uint8_t*>(canonical.data()),
                                       canonical.size(), canonical.size());
    FUZZ_CHECK(again.accepted);
    FUZZ_CHECK(again.records == whole.records);
    return 0;
}

}  // namespace Fuzz

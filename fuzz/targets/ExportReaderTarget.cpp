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
#include "tests/support/ExportEcho.h"

namespace Fuzz {

namespace {

struct Outcome {
    bool accepted;
    std::string error;
    std::string records;
};

Outcome readInPieces(const uint8_t* data, size_t size, size_t piece) {
    ExportEcho recorder;
    ExportReader reader(recorder);
    bool ok = true;
    for (size_t at = 0; ok && at < size; at += piece)
        ok = reader.feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
    ok = ok && reader.finish();
    FUZZ_CHECK(ok == reader.error().empty());
    FUZZ_CHECK(ok || reader.error().rfind("line ", 0) == 0);
    FUZZ_CHECK(ok || reader.lineNumber() >= 1);
    FUZZ_CHECK(recorder.mostValues <= MessageDescriptor::kMaxValues);
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

// Training database files as any bytes (record file, its index file, the numbering):
// whatever a load accepts must answer pulls with whole records, take a new push, and
// load again after a flush.
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/ScratchFolder.h"
#include "fuzz/targets/TrainingDbCheck.h"

namespace Fuzz {

int trainingDbLoadTarget(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t dataLength = size_t(input.takeByte()) | size_t(input.takeByte()) << 8;
    const std::string records = input.takeBytes(dataLength);
    const std::string numbering = input.takeBytes(input.takeByte() % 8);
    const std::string index = input.takeRest();

    emptyScratchFolder();
    const std::string folder = scratchFolder();
    const std::string dataPath = folder + CommonTrainingDb::kDataFileName;
    writeScratchFile(dataPath, records);
    writeScratchFile(dataPath + ".fm", index);
    writeScratchFile(folder + CommonTrainingDb::kOptionsFileName, numbering);

    CommonTrainingDb::checkFiles(folder);  // any bytes: it reports, it never fails

    {
        CommonTrainingDb store;
        if (!store.load(folder))
            return 0;
        FUZZ_CHECK(store.end() == store.historyBase() + uint32_t(store.count()));
        pullAllChecked(store);

        // A descriptor the files cannot hold yet, so it must be numbered.
        MessageDescriptor fresh;
        fresh.label = 7;
        fresh.status = MessageDescriptor::kCurrent;
        for (int64_t value :
             {int64_t(0x5a5a5a5a5a5a5a5a), int64_t(0x0123456789abcdef), int64_t(size)})
            fresh.addValue(value);
        std::string freshRecord;
        fresh.encode(freshRecord);
        HTTPParser::IOB push;
        FUZZ_CHECK(push.append(freshRecord.data(), uint32_t(freshRecord.size())));
        const uint32_t before = store.end();
        uint32_t newIndex = 0;
        FUZZ_CHECK(store.postUpdates(push, newIndex));
        FUZZ_CHECK(newIndex == store.end());
        FUZZ_CHECK(newIndex - before <= 1);
        FUZZ_CHECK(store.reopen());
        pullAllChecked(store);
        store.trimHistory(3);
        pullAllChecked(store);
        FUZZ_CHECK(store.flush());
    }

    CommonTrainingDb restarted;
    FUZZ_CHECK(restarted.load(folder));
    pullAllChecked(restarted);
    return 0;
}

}  // namespace Fuzz

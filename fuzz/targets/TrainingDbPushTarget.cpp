// Training database pushes as any bytes against one store that lives for the whole run,
// driven as the service drives it (push, trim, reopen); every so often the store is
// flushed and loaded again, as after a restart.
#include <memory>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/ScratchFolder.h"
#include "fuzz/targets/TrainingDbCheck.h"

namespace Fuzz {

namespace {

constexpr uint32_t kMaxHistory = 64;
constexpr int kPushesPerRestart = 64;

}  // namespace

int trainingDbPushTarget(const uint8_t* data, size_t size) {
    static std::unique_ptr<CommonTrainingDb> store;
    static int pushes = 0;
    if (!store) {
        store = std::make_unique<CommonTrainingDb>();
        FUZZ_CHECK(store->load(scratchFolder()));
    }

    HTTPParser::IOB body;
    if (size > 0)
        FUZZ_CHECK(body.append(data, uint32_t(size)));
    uint32_t parsed = 0;
    uint32_t cursor = 0;
    MessageDescriptor descriptor;
    while (descriptor.parse(body, cursor))
        ++parsed;

    const uint32_t before = store->end();
    uint32_t newIndex = 12345;
    FUZZ_CHECK(store->postUpdates(body, newIndex));
    if (size == 0) {
        FUZZ_CHECK(newIndex == 12345);
        return 0;
    }
    FUZZ_CHECK(newIndex == store->end());
    FUZZ_CHECK(newIndex - before <= parsed);

    store->trimHistory(kMaxHistory);
    FUZZ_CHECK(store->reopen());
    FUZZ_CHECK(uint32_t(store->count()) <= kMaxHistory);
    pullAllChecked(*store);

    if (++pushes % kPushesPerRestart == 0) {
        FUZZ_CHECK(store->flush());
        auto restarted = std::make_unique<CommonTrainingDb>();
        FUZZ_CHECK(restarted->load(scratchFolder()));
        pullAllChecked(*restarted);
        store = std::move(restarted);
    }
    return 0;
}

}  // namespace Fuzz

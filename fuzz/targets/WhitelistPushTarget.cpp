// Whitelist pushes as any bytes against one store that lives for the whole run: every
// push is accepted, only effective changes are numbered, and the keys end up exactly
// as the last change of each key says. Every so often the store is saved and loaded
// back, as a restarting server would.
#include <map>
#include <memory>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/ScratchFolder.h"
#include "storage/CommonWhitelist.h"

namespace Fuzz {

namespace {

constexpr uint32_t kMaxHistory = 4096;
constexpr int kPushesPerRestart = 64;
constexpr size_t kMaxKeys = 100000;

}  // namespace

int whitelistPushTarget(const uint8_t* data, size_t size) {
    static std::unique_ptr<CommonWhitelist> store;
    static int pushes = 0;
    if (!store) {
        store = std::make_unique<CommonWhitelist>();
        FUZZ_CHECK(store->load(scratchFolder()));
    }

    HTTPParser::IOB body;
    if (size > 0)
        FUZZ_CHECK(body.append(data, uint32_t(size)));
    const uint32_t before = store->end();
    uint32_t newIndex = 12345;
    FUZZ_CHECK(store->postUpdates(body, newIndex));
    const size_t records = size / WhitelistChange::kSize;
    if (records == 0) {
        FUZZ_CHECK(newIndex == 12345);
        return 0;
    }
    FUZZ_CHECK(newIndex == store->end());
    FUZZ_CHECK(newIndex - before <= records);

    std::map<int64_t, bool> lastChange;
    for (size_t i = 0; i < records; ++i) {
        const WhitelistChange change = WhitelistChange::decode(data + i * WhitelistChange::kSize);
        const int64_t key = change.key;  // the packed member cannot bind to a reference
        lastChange[key] = change.op != 0;
    }
    for (const auto& [key, added] : lastChange)
        FUZZ_CHECK(store->containsKey(key) == added);

    // The numbered changes of this push are whole records, each naming a pushed key.
    HTTPParser::IOB pulled;
    uint32_t pulledEnd = 0;
    FUZZ_CHECK(store->getUpdates(before, pulled, pulledEnd));
    FUZZ_CHECK(pulledEnd == newIndex);
    FUZZ_CHECK(pulled.length() == (newIndex - before) * WhitelistChange::kSize);
    for (uint32_t at = 0; at < pulled.length(); at += WhitelistChange::kSize) {
        const int64_t key = WhitelistChange::decode(pulled.data() + at).key;
        FUZZ_CHECK(lastChange.count(key) == 1);
    }

    store->trimHistory(kMaxHistory);
    if (store->keyCount() > kMaxKeys) {
        // Keeps a long run's memory and save times bounded.
        FUZZ_CHECK(store->clear(scratchFolder()));
    }
    if (++pushes % kPushesPerRestart == 0) {
        FUZZ_CHECK(store->save(scratchFolder()));
        auto restarted = std::make_unique<CommonWhitelist>();
        FUZZ_CHECK(restarted->load(scratchFolder()));
        FUZZ_CHECK(restarted->end() == store->end());
        FUZZ_CHECK(restarted->keyCount() == store->keyCount());
        store = std::move(restarted);
    }
    return 0;
}

}  // namespace Fuzz

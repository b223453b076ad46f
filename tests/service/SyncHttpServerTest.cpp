// The access decision of a push is taken once: a reload that changes the rights while the
// request is under way cannot send the push around its committer into the store.
#include <gtest/gtest.h>

#include "apps/VantorSyncSvc/SyncHttpServer.h"
#include "apps/VantorSyncSvc/SyncService.h"
#include "metrics/Metrics.h"
#include "tests/support/TempFolder.h"

namespace {

// Denies the first look at the rights and allows every later one, as a reload landing
// between two looks would.
class FlippingRightsServer : public SyncHttpServer {
  public:
    FlippingRightsServer() : SyncHttpServer(nullptr) {}
    int looks = 0;

  protected:
    AccessRights rightsFor(const HTTPParser::HTTPRequest&) override {
        bool allowed = looks++ > 0;
        return AccessRights{allowed, allowed};
    }
};

uint64_t deniedPushes(Metrics::Collection collection) {
    return Metrics::instance().snapshot().sync[static_cast<int>(collection)][static_cast<int>(
        Metrics::SyncOperation::Push)][static_cast<int>(Metrics::SyncResult::Denied)];
}

}  // namespace

TEST(SyncHttpServer, PushDeniedOnceStaysDeniedWhenTheRightsChangeMeanwhile) {
    TempFolder folder;
    SyncService& service = SyncService::instance();
    service.setDataFolder(folder.folder());
    struct Case {
        const char* path;
        Metrics::Collection collection;
        std::string body;
    };
    const Case cases[] = {
        {"/post_wl_updates", Metrics::Collection::Whitelist,
         std::string("\x01\x07\0\0\0\0\0\0\0", 9)},
        {"/POST_TS_UPDATES", Metrics::Collection::TrainingDb,
         std::string("\x01\0\0\0\x01\0\0\0\x01\0\0\0\x05\0\0\0\0\0\0\0", 20)},
    };
    for (const Case& c : cases) {
        FlippingRightsServer server;
        const uint64_t deniedBefore = deniedPushes(c.collection);
        auto item = std::make_unique<RequestItem>();
        item->sessionId = 1;
        item->request.setFirstLine(std::string("POST ") + c.path + " HTTP/1.1");
        item->request.headers().add("User-Host", "ws1");
        item->request.getBody().append(c.body.data(), static_cast<uint32_t>(c.body.size()));
        server.handleRequest(std::move(item));

        EXPECT_EQ(server.looks, 1) << c.path;
        EXPECT_EQ(deniedPushes(c.collection), deniedBefore + 1) << c.path;
        EXPECT_EQ(service.whitelistCount(), 0) << c.path;
        EXPECT_EQ(service.trainingDbCount(), 0) << c.path;
    }
}

#include "apps/VantorSyncAdm/MainDlg.h"

#include "tests/console/ConsoleFixture.h"

namespace {

class MainDlgTest : public ConsoleFixture {
  protected:
    FakeDialogView& open() {
        view = std::make_unique<FakeDialogView>(*findDialogTemplate(DialogId::kMain), dialog);
        view->open();
        return *view;
    }

    CMainDlg dialog{context};
    std::unique_ptr<FakeDialogView> view;
};

// No bus, a bus without the service and a user the bus refuses: the window says so, offers
// only what can work, and Refresh tries again.
TEST_F(MainDlgTest, ServiceThatCannotBeUsedShowsWhyAndRefreshTriesAgain) {
    using Failure = SyncResult::Failure;
    const struct {
        const char* name;
        bool noBus;
        Failure kind;
        int message;
        const char* status;
    } cases[] = {
        {"no bus", true, Failure::Unreachable, StringId::kServiceUnreachable,
         "Service cannot be reached"},
        {"no service", false, Failure::Unreachable, StringId::kServiceUnreachable,
         "Service cannot be reached"},
        {"no right", false, Failure::NotPermitted, StringId::kNotPermitted,
         "Not permitted to manage the service"},
    };
    for (const auto& c : cases) {
        FakeService broken;
        broken.creationFails = c.noBus;
        broken.failureKind = c.kind;
        broken.failing["getEnabled"] = "Rejected send message, 2 matched rules";
        FakeToolkit boxes;
        SyncConnection connection{fakeSyncFactory(broken), boxes, texts};
        ConsoleContext console{boxes, texts, connection, "/nonexistent/VantorSyncAdm"};
        CMainDlg main(console);
        FakeDialogView window(*findDialogTemplate(DialogId::kMain), main);
        window.open();

        ASSERT_EQ(boxes.messages().size(), 1u) << c.name;
        EXPECT_EQ(boxes.messages()[0].text.rfind(texts.getString(c.message), 0), 0u) << c.name;
        EXPECT_EQ(boxes.messages()[0].icon, MessageIcon::Error);
        EXPECT_EQ(window.statusText(), c.status) << c.name;
        for (int id : {CMainDlg::kStart, CMainDlg::kStop, CMainDlg::kSettings})
            EXPECT_FALSE(window.isEnabled(id)) << c.name << " " << id;
        EXPECT_TRUE(window.isEnabled(CMainDlg::kRefresh));
        EXPECT_EQ(window.text(CMainDlg::kWhitelistCount), "-");

        broken.creationFails = false;
        broken.failing.clear();
        window.click(CMainDlg::kRefresh);
        EXPECT_EQ(window.statusText(), "Sync server is stopped; the service is running") << c.name;
        EXPECT_TRUE(window.isEnabled(CMainDlg::kStart));
        EXPECT_TRUE(window.isEnabled(CMainDlg::kSettings));
        EXPECT_EQ(window.text(CMainDlg::kWhitelistCount), "0");
    }
}

TEST_F(MainDlgTest, OtherFailingEnabledQueryLeavesStateUndetermined) {
    service.failing["getEnabled"] = "Access denied";
    FakeDialogView& main = open();
    EXPECT_EQ(errorTexts(), std::vector<std::string>{"Access denied"});
    EXPECT_EQ(main.statusText(), "Ready");
    EXPECT_TRUE(main.isEnabled(CMainDlg::kStart));
    EXPECT_EQ(service.callCount("getStatistics"), 0);
}

TEST_F(MainDlgTest, RunningServiceShowsActiveStateAndStatisticsAtOnce) {
    service.enabled = 1;
    service.setCounts(1234567, -3);
    FakeDialogView& main = open();

    EXPECT_FALSE(main.isEnabled(CMainDlg::kStart));
    EXPECT_TRUE(main.isEnabled(CMainDlg::kStop));
    EXPECT_EQ(main.statusText(), "Service is active");
    EXPECT_EQ(main.text(CMainDlg::kWhitelistCount), "1234567");
    EXPECT_EQ(main.text(CMainDlg::kDescriptorCount), "-3");
    EXPECT_TRUE(errorTexts().empty());
}

TEST_F(MainDlgTest, StartAndStopSwitchTheServerWithoutRefreshingStatistics) {
    service.setCounts(4, 5);
    FakeDialogView& main = open();
    EXPECT_EQ(main.statusText(), "Sync server is stopped; the service is running");
    EXPECT_FALSE(main.isEnabled(CMainDlg::kStop));

    service.setCounts(40, 50);
    main.click(CMainDlg::kStart);
    EXPECT_EQ(service.enabled, 1);
    EXPECT_EQ(main.statusText(), "Service is active");
    EXPECT_FALSE(main.isEnabled(CMainDlg::kStart));

    main.click(CMainDlg::kStop);
    EXPECT_EQ(service.enabled, 0);
    EXPECT_TRUE(main.isEnabled(CMainDlg::kStart));
    EXPECT_FALSE(main.isEnabled(CMainDlg::kStop));
    EXPECT_EQ(main.statusText(), "Sync server is stopped; the service is running");
    EXPECT_EQ(main.text(CMainDlg::kWhitelistCount), "4");

    main.click(CMainDlg::kRefresh);
    EXPECT_EQ(main.text(CMainDlg::kWhitelistCount), "40");
    EXPECT_EQ(main.text(CMainDlg::kDescriptorCount), "50");
}

TEST_F(MainDlgTest, FailedStartKeepsStateAndNextPressCreatesANewObject) {
    FakeDialogView& main = open();
    service.failing["putEnabled"] = "Port 17080 cannot be bound";
    main.click(CMainDlg::kStart);
    EXPECT_EQ(errorTexts(), std::vector<std::string>{"Port 17080 cannot be bound"});
    EXPECT_EQ(main.statusText(), "Sync server is stopped; the service is running");
    EXPECT_TRUE(main.isEnabled(CMainDlg::kStart));
    EXPECT_EQ(service.created, 1);

    service.failing.clear();
    main.click(CMainDlg::kStart);
    EXPECT_EQ(service.created, 2);
    EXPECT_EQ(main.statusText(), "Service is active");
}

TEST_F(MainDlgTest, ShortOrFailedStatisticsAreReportedAndTheWindowStaysOpen) {
    service.setCounts(7, 8);
    FakeDialogView& main = open();
    service.statistics.resize(5);
    main.click(CMainDlg::kRefresh);
    service.failing["getStatistics"] = "Statistics unavailable";
    main.click(CMainDlg::kRefresh);

    EXPECT_EQ(errorTexts().size(), 2u);
    EXPECT_EQ(errorTexts()[1], "Statistics unavailable");
    EXPECT_EQ(main.text(CMainDlg::kWhitelistCount), "7");
    EXPECT_EQ(main.text(CMainDlg::kDescriptorCount), "8");
    EXPECT_FALSE(main.ended());
}

TEST_F(MainDlgTest, ClosingCommandsGiveTheirIdAndDropTheObject) {
    FakeDialogView& main = open();
    main.pressEnter();
    EXPECT_EQ(main.result(), 1);

    FakeDialogView& second = open();
    second.pressEscape();
    EXPECT_EQ(second.result(), 2);

    FakeDialogView& third = open();
    third.click(CMainDlg::kClose);
    EXPECT_EQ(third.result(), 2);
    // Each opening after a close had to create the object again.
    EXPECT_EQ(service.created, 3);
}

TEST_F(MainDlgTest, RecordedTextsRelabelButtons) {
    texts.storeText("form129", CMainDlg::kAbout, "Info...");
    service.enabled = 1;
    FakeDialogView& main = open();
    EXPECT_EQ(main.text(CMainDlg::kAbout), "Info...");
    EXPECT_EQ(main.text(CMainDlg::kStart), "Start");
    EXPECT_EQ(main.caption(), "Mailvane SyncServer Console");
}

TEST_F(MainDlgTest, AboutShowsNoVersionForAProgramFileWithoutOne) {
    FakeDialogView& main = open();
    toolkit.expect(DialogId::kAbout, [](FakeDialogView& about) {
        EXPECT_EQ(about.text(1035), "");
        EXPECT_EQ(about.text(1001), "Mailvane SyncServer");
        about.pressEnter();
        EXPECT_EQ(about.result(), 1);
    });
    main.click(CMainDlg::kAbout);
    EXPECT_EQ(toolkit.runs(DialogId::kAbout), 1);
    EXPECT_EQ(toolkit.unscriptedRuns(), 0);
}

}  // namespace

namespace {

TEST_F(MainDlgTest, AFailureWithoutTextIsStillReported) {
    FakeDialogView& main = open();
    service.failing["putEnabled"] = "";
    main.click(CMainDlg::kStart);
    EXPECT_EQ(errorTexts(), std::vector<std::string>{"The management call failed."});
}

}  // namespace

#include "apps/VantorSyncAdm/SettingsDlg.h"

#include "apps/VantorSyncAdm/AccessListsDlg.h"
#include "tests/console/ConsoleFixture.h"

namespace {

using S = SettingsDlg;

class SettingsDlgTest : public ConsoleFixture {
  protected:
    SettingsDlgTest() {
        service.setConfigText(
            "<?xml version=\"1.0\"?>\r\n<config>\r\n  <port>8080</port>\r\n"
            "  <common_whitelist_enabled>0</common_whitelist_enabled>\r\n"
            "  <common_whitelist_max_size>500</common_whitelist_max_size>\r\n"
            "  <common_training_db_max_size>600</common_training_db_max_size>\r\n"
            "  <log_enabled>1</log_enabled>\r\n  <log_file_lifetime>30</log_file_lifetime>\r\n"
            "  <default_acl enabled_get=\"1\" enabled_post=\"0\"/>\r\n  <access_list>\r\n"
            "\t\t<acl host=\"Alpha\" enabled_get=\"1\" enabled_post=\"0\"/>\r\n"
            "  </access_list>\r\n</config>");
    }

    FakeDialogView& open() {
        view = std::make_unique<FakeDialogView>(*findDialogTemplate(DialogId::kSettings), dialog);
        view->open();
        return *view;
    }

    void lastSent(Settings& sent) { parseConfig(service.lastPutText(), sent); }

    SettingsDlg dialog{context};
    std::unique_ptr<FakeDialogView> view;
};

TEST_F(SettingsDlgTest, OpeningShowsTheServiceConfiguration) {
    FakeDialogView& settings = open();
    EXPECT_FALSE(settings.ended());
    EXPECT_FALSE(settings.isChecked(S::kWhitelistEnabled));
    EXPECT_TRUE(settings.isChecked(S::kTrainingDbEnabled));
    EXPECT_TRUE(settings.isChecked(S::kLogEnabled));
    EXPECT_EQ(settings.text(S::kWhitelistMaxSize), "500");
    EXPECT_EQ(settings.text(S::kTrainingDbMaxSize), "600");
    EXPECT_EQ(settings.text(S::kPort), "8080");
    EXPECT_EQ(settings.text(S::kLogFileLifetime), "30");
    EXPECT_EQ(settings.text(S::kDataFolder), "/var/lib/VantorSyncSvc/");
    EXPECT_EQ(settings.upDownRange(S::kLifetimeUpDown), std::make_pair(1, 1000));
}

TEST_F(SettingsDlgTest, FailuresWhileOpeningCloseTheDialog) {
    service.failing["getConfigFolder"] = "No folder";
    EXPECT_EQ(open().result(), 2);
    EXPECT_EQ(errorTexts(), std::vector<std::string>{"No folder"});

    service.failing = {{"getConfig", "config.xml is missing"}};
    EXPECT_EQ(open().result(), 2);
    EXPECT_EQ(errorTexts().back(), "config.xml is missing");

    // A text that breaks off closes the dialog and says why; nothing of it is shown.
    service.failing.clear();
    const std::pair<const char*, const char*> broken[] = {
        {"<config><port>1</pot></config>", "End tag 'pot'"},
        {"<config>\n<port>1</port><log_enabled>0</log_en", "line 2"},
        {"<config><port>9</port>", "<config> is never closed"},
    };
    for (const auto& [text, why] : broken) {
        service.setConfigText(text);
        FakeDialogView& settings = open();
        EXPECT_EQ(settings.result(), 2);
        EXPECT_EQ(settings.text(S::kPort), "") << text;
        const std::string shown = errorTexts().back();
        EXPECT_EQ(shown.rfind(texts.getString(StringId::kConfigUnreadable), 0), 0u) << shown;
        EXPECT_NE(shown.find(why), std::string::npos) << shown;
    }
}

TEST_F(SettingsDlgTest, ListenAddressesAreShownCheckedAndSentAsOneList) {
    EXPECT_EQ(open().text(S::kListenAddresses), "0.0.0.0");
    const std::pair<const char*, const char*> refused[] = {
        {"", "no listen address"},
        {"0.0.0.0, example.org", "\"example.org\""},
        {"::1 0:0::1", "listed twice"},
    };
    for (const auto& [typed, why] : refused) {
        FakeDialogView& settings = open();
        settings.type(S::kListenAddresses, typed);
        settings.click(kIdOk);
        EXPECT_FALSE(settings.ended()) << typed;
        EXPECT_EQ(settings.focusedControl(), S::kListenAddresses);
        EXPECT_NE(errorTexts().back().find(why), std::string::npos) << errorTexts().back();
    }
    EXPECT_TRUE(service.putConfigs.empty());
    FakeDialogView& settings = open();
    settings.type(S::kListenAddresses, " 127.0.0.1,fd00:0::1  ::1");
    settings.click(kIdOk);
    EXPECT_EQ(settings.result(), 1);
    Settings sent;
    lastSent(sent);
    EXPECT_EQ(sent.getValues().listenAddresses, "127.0.0.1, fd00::1, ::1");
}

TEST_F(SettingsDlgTest, PortsOutsideTheTcpRangeAreRefusedWithTheRange) {
    FakeDialogView& settings = open();
    for (const char* port : {"0", "65536", "70000", "-5", "abc"}) {
        settings.type(S::kPort, port);
        settings.type(S::kLogFileLifetime, "5");
        settings.click(kIdOk);
        EXPECT_FALSE(settings.ended()) << port;
        EXPECT_EQ(settings.focusedControl(), S::kPort);
        ASSERT_FALSE(errorTexts().empty()) << port;
        EXPECT_NE(errorTexts().back().find("1 to 65535"), std::string::npos) << port;
        EXPECT_EQ(toolkit.messages().back().icon, MessageIcon::Error);
    }
    EXPECT_TRUE(service.putConfigs.empty());
    for (const char* port : {"1", "65535"}) {
        FakeDialogView& again = open();
        again.type(S::kPort, port);
        again.click(kIdOk);
        EXPECT_EQ(again.result(), 1) << port;
        Settings sent;
        lastSent(sent);
        EXPECT_EQ(sent.getValues().port, std::stoi(port));
    }
}

TEST_F(SettingsDlgTest, LimitsRefuseOnlyZeroAndTheFirstBadFieldTakesTheFocus) {
    FakeDialogView& settings = open();
    settings.type(S::kTrainingDbMaxSize, "abc");
    settings.type(S::kPort, "");
    settings.type(S::kLogFileLifetime, "  0012");
    settings.click(kIdOk);
    EXPECT_EQ(settings.focusedControl(), S::kTrainingDbMaxSize);
    EXPECT_FALSE(settings.ended());

    settings.type(S::kTrainingDbMaxSize, "-7");
    settings.click(kIdOk);
    EXPECT_EQ(settings.focusedControl(), S::kPort);
    EXPECT_TRUE(service.putConfigs.empty());

    settings.type(S::kPort, "12abc");
    settings.type(S::kWhitelistMaxSize, "4294967295");
    settings.click(kIdOk);
    ASSERT_EQ(settings.result(), 1);
    Settings sent;
    lastSent(sent);
    SettingsData values = sent.getValues();
    EXPECT_EQ(values.port, 12);
    EXPECT_EQ(values.commonTrainingDbMaxSize, -7);
    EXPECT_EQ(values.logFileLifetime, 12);
    // Beyond the signed range the field reads as the largest signed number.
    EXPECT_EQ(values.commonWhitelistMaxSize, 2147483647u);
}

TEST_F(SettingsDlgTest, OkSendsTheCompleteConfigurationWithAccessEditsInOnePut) {
    FakeDialogView& settings = open();
    toolkit.expect(DialogId::kAccessLists, [&](FakeDialogView& access) {
        toolkit.expect(DialogId::kHost, [](FakeDialogView& host) {
            host.type(1005, "beta");
            host.click(kIdOk);
        });
        access.click(AccessListsDlg::kAdd);
        access.click(AccessListsDlg::kDefaultGet);
        access.click(kIdOk);
    });
    settings.click(S::kAccessRights);
    settings.click(S::kLogEnabled);
    settings.type(S::kPort, "9090");
    settings.click(kIdOk);

    EXPECT_EQ(settings.result(), 1);
    ASSERT_EQ(service.putConfigs.size(), 1u);
    Settings sent;
    lastSent(sent);
    SettingsData values = sent.getValues();
    EXPECT_EQ(values.port, 9090);
    EXPECT_FALSE(values.logEnabled);
    EXPECT_FALSE(values.commonWhitelistEnabled);
    EXPECT_EQ(values.commonWhitelistMaxSize, 500u);
    EXPECT_EQ(values.defaultAcl, (AccessRights{false, false}));
    AccessList expected{{"Alpha", {true, false}}, {"beta", {true, true}}};
    EXPECT_EQ(sent.getAccessList(), expected);
    // The text is exactly what the model writes for these settings.
    EXPECT_EQ(service.lastPutText(), sent.configText());
}

TEST_F(SettingsDlgTest, CancelSendsNothingEvenAfterAccessEdits) {
    FakeDialogView& settings = open();
    toolkit.expect(DialogId::kAccessLists, [](FakeDialogView& access) {
        access.click(AccessListsDlg::kDefaultPost);
        access.click(kIdOk);
    });
    settings.click(S::kAccessRights);
    settings.pressEscape();
    EXPECT_EQ(settings.result(), 2);
    EXPECT_TRUE(service.putConfigs.empty());
}

TEST_F(SettingsDlgTest, ClearAsksFirstAndIsNotUndoneByCancel) {
    service.setCounts(10, 20);
    FakeDialogView& settings = open();
    toolkit.answer(MessageAnswer::No);
    settings.click(S::kClearWhitelist);
    EXPECT_EQ(service.callCount("clearWhitelist"), 0);
    ASSERT_EQ(toolkit.messages().size(), 1u);
    EXPECT_EQ(toolkit.messages()[0].text, "Clear the common whitelist of email addresses?");
    EXPECT_EQ(toolkit.messages()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(toolkit.messages()[0].icon, MessageIcon::Question);

    toolkit.answer(MessageAnswer::Yes);
    settings.click(S::kClearTrainingDb);
    EXPECT_EQ(toolkit.messages()[1].text, "Clear the common training database?");
    EXPECT_EQ(service.callCount("clearTrainingDb"), 1);
    EXPECT_FALSE(settings.ended());

    settings.click(kIdCancel);
    EXPECT_EQ(service.statistics, std::vector<uint8_t>({10, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(service.putConfigs.empty());
}

TEST_F(SettingsDlgTest, FailedClearIsReportedAndTheDialogStaysOpen) {
    FakeDialogView& settings = open();
    service.failing["clearWhitelist"] = "Store locked";
    toolkit.answer(MessageAnswer::Yes);
    settings.click(S::kClearWhitelist);
    EXPECT_EQ(errorTexts(), std::vector<std::string>{"Store locked"});
    EXPECT_FALSE(settings.ended());
}

TEST_F(SettingsDlgTest, FailedPutIsReportedAndClosesTheDialog) {
    FakeDialogView& settings = open();
    service.failing["putConfig"] = "The text does not parse";
    settings.click(kIdOk);
    EXPECT_EQ(settings.result(), 2);
    EXPECT_EQ(errorTexts(), std::vector<std::string>{"The text does not parse"});
}

}  // namespace

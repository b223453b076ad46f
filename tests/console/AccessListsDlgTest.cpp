#include "apps/VantorSyncAdm/AccessListsDlg.h"

#include "apps/VantorSyncAdm/HostDlg.h"
#include "tests/console/ConsoleFixture.h"
#include "tests/support/TempFolder.h"

namespace {

using A = AccessListsDlg;
using Rows = std::vector<std::vector<std::string>>;

class AccessListsDlgTest : public ConsoleFixture {
  protected:
    AccessListsDlgTest() {
        settings.setAccessList({{"Zeta", {true, false}}, {"alpha", {false, true}}});
    }

    FakeDialogView& open() {
        dialog = std::make_unique<AccessListsDlg>(context, settings);
        view =
            std::make_unique<FakeDialogView>(*findDialogTemplate(DialogId::kAccessLists), *dialog);
        view->open();
        return *view;
    }

    // Queues one run of the host dialog that checks what it shows, then enters values.
    void hostDialogEnters(const std::string& shown, const std::string& name, bool get, bool post,
                          int button = kIdOk) {
        toolkit.expect(DialogId::kHost, [=](FakeDialogView& host) {
            EXPECT_EQ(host.text(HostDlg::kName), shown);
            host.type(HostDlg::kName, name);
            host.setChecked(HostDlg::kAllowGet, get);
            host.setChecked(HostDlg::kAllowPost, post);
            host.click(button);
        });
    }

    Settings settings;
    std::unique_ptr<AccessListsDlg> dialog;
    std::unique_ptr<FakeDialogView> view;
};

TEST_F(AccessListsDlgTest, OpeningListsHostsSortedWithoutCaseAndNothingSelected) {
    FakeDialogView& access = open();
    EXPECT_EQ(access.listRows(), (Rows{{"alpha", "No", "Yes"}, {"Zeta", "Yes", "No"}}));
    ASSERT_EQ(access.listColumns().size(), 3u);
    EXPECT_EQ(access.listColumns()[0].title, "Host name");
    EXPECT_EQ(access.listColumns()[0].width, 280);
    EXPECT_EQ(access.listColumns()[2].title, "Allowed Post");
    EXPECT_FALSE(access.isEnabled(A::kEdit));
    EXPECT_FALSE(access.isEnabled(A::kDelete));
    EXPECT_TRUE(access.isChecked(A::kDefaultGet));
    EXPECT_TRUE(access.isChecked(A::kDefaultPost));

    access.selectRows(A::kHostList, {1});
    EXPECT_TRUE(access.isEnabled(A::kEdit));
    EXPECT_TRUE(access.isEnabled(A::kDelete));
}

TEST_F(AccessListsDlgTest, AddLowerCasesAndRefusesADuplicateInAnyCase) {
    FakeDialogView& access = open();
    hostDialogEnters("", "Mail.Example.COM", true, false);
    access.click(A::kAdd);
    EXPECT_EQ(dialog->workingCopy().count("mail.example.com"), 1u);

    // The refused name comes back lower-cased with the chosen rights; Cancel abandons.
    hostDialogEnters("", "MAIL.example.com", false, true);
    toolkit.expect(DialogId::kHost, [](FakeDialogView& host) {
        EXPECT_EQ(host.text(HostDlg::kName), "mail.example.com");
        EXPECT_FALSE(host.isChecked(HostDlg::kAllowGet));
        EXPECT_TRUE(host.isChecked(HostDlg::kAllowPost));
        host.click(kIdCancel);
    });
    access.click(A::kAdd);
    ASSERT_EQ(toolkit.messages().size(), 1u);
    EXPECT_EQ(toolkit.messages()[0].text, "Host name is not unique");
    EXPECT_EQ(toolkit.messages()[0].caption, "");
    EXPECT_EQ(dialog->workingCopy().at("mail.example.com"), (AccessRights{true, false}));
    EXPECT_EQ(access.listRowCount(A::kHostList), 3);
}

TEST_F(AccessListsDlgTest, AddedLowerCaseNameDoesNotMatchAnUpperCaseEntry) {
    FakeDialogView& access = open();
    hostDialogEnters("", "ZETA", true, true);
    access.click(A::kAdd);
    EXPECT_EQ(dialog->workingCopy().size(), 3u);
    EXPECT_EQ(access.listRows()[1][0], "Zeta");
    EXPECT_EQ(access.listRows()[2][0], "zeta");
    EXPECT_TRUE(toolkit.messages().empty());
}

TEST_F(AccessListsDlgTest, EditOfRightsOnlyRewritesTheRow) {
    FakeDialogView& access = open();
    access.selectRows(A::kHostList, {1});
    hostDialogEnters("Zeta", "Zeta", false, true);
    access.click(A::kEdit);
    EXPECT_EQ(access.listRows(), (Rows{{"alpha", "No", "Yes"}, {"Zeta", "No", "Yes"}}));
    EXPECT_EQ(dialog->workingCopy().at("Zeta"), (AccessRights{false, true}));
}

TEST_F(AccessListsDlgTest, RenameToAnotherHostIsRefusedAndCancelKeepsBoth) {
    FakeDialogView& access = open();
    access.selectRows(A::kHostList, {1});
    hostDialogEnters("Zeta", "alpha", true, true);
    hostDialogEnters("alpha", "alpha", true, true, kIdCancel);
    access.click(A::kEdit);
    EXPECT_EQ(toolkit.messages().size(), 1u);
    EXPECT_EQ(dialog->workingCopy(), settings.getAccessList());
}

TEST_F(AccessListsDlgTest, RenameKeepsTheCaseAsTyped) {
    FakeDialogView& access = open();
    access.selectRows(A::kHostList, {0});
    hostDialogEnters("alpha", "Beta", true, true);
    access.doubleClickList(A::kHostList);
    EXPECT_EQ(access.listRows(), (Rows{{"Beta", "Yes", "Yes"}, {"Zeta", "Yes", "No"}}));
    EXPECT_EQ(dialog->workingCopy().count("alpha"), 0u);
}

TEST_F(AccessListsDlgTest, EnterInTheListEditsTheSelectedHostInsteadOfClosing) {
    FakeDialogView& access = open();
    access.setFocus(A::kHostList);
    access.pressEnter();
    EXPECT_FALSE(access.ended());
    EXPECT_EQ(toolkit.runs(DialogId::kHost), 0);

    access.selectRows(A::kHostList, {0});
    hostDialogEnters("alpha", "alpha", true, true);
    access.pressEnter();
    EXPECT_FALSE(access.ended());
    EXPECT_EQ(toolkit.runs(DialogId::kHost), 1);
}

TEST_F(AccessListsDlgTest, DeleteRemovesEverySelectedRowAfterOneConfirmation) {
    settings.setAccessList({{"a", {}}, {"b", {}}, {"c", {}}, {"d", {}}});
    FakeDialogView& access = open();
    access.selectRows(A::kHostList, {0, 2, 3});
    toolkit.answer(MessageAnswer::No);
    access.click(A::kDelete);
    EXPECT_EQ(access.listRowCount(A::kHostList), 4);

    toolkit.answer(MessageAnswer::Yes);
    access.click(A::kDelete);
    EXPECT_EQ(toolkit.messages().size(), 2u);
    EXPECT_EQ(toolkit.messages()[1].text, "Delete the selected items?");
    EXPECT_EQ(access.listRows(), (Rows{{"b", "No", "No"}}));
    EXPECT_EQ(dialog->workingCopy(), (AccessList{{"b", {}}}));
    EXPECT_FALSE(access.isEnabled(A::kDelete));
}

TEST_F(AccessListsDlgTest, OkStoresListAndDefaultRightsWhileCancelStoresNothing) {
    FakeDialogView& access = open();
    access.selectRows(A::kHostList, {0});
    toolkit.answer(MessageAnswer::Yes);
    access.click(A::kDelete);
    access.click(A::kDefaultPost);
    access.click(kIdCancel);
    EXPECT_EQ(access.result(), 2);
    EXPECT_EQ(settings.getAccessList().size(), 2u);
    EXPECT_EQ(settings.getValues().defaultAcl, (AccessRights{true, true}));

    FakeDialogView& again = open();
    again.selectRows(A::kHostList, {0});
    toolkit.answer(MessageAnswer::Yes);
    again.click(A::kDelete);
    again.click(A::kDefaultPost);
    again.click(kIdOk);
    EXPECT_EQ(again.result(), 1);
    EXPECT_EQ(settings.getAccessList(), (AccessList{{"Zeta", {true, false}}}));
    EXPECT_EQ(settings.getValues().defaultAcl, (AccessRights{true, false}));
}

TEST_F(AccessListsDlgTest, HostDialogRefusesOnlyAnEmptyName) {
    FakeDialogView& access = open();
    toolkit.expect(DialogId::kHost, [](FakeDialogView& host) {
        host.click(kIdOk);
        EXPECT_FALSE(host.ended());
        host.type(HostDlg::kName, "   ");
        host.click(kIdOk);
        EXPECT_EQ(host.result(), 1);
    });
    access.click(A::kAdd);
    EXPECT_EQ(dialog->workingCopy().count("   "), 1u);
}

TEST_F(AccessListsDlgTest, HostDialogRefusesNamesThatAreNotText) {
    FakeDialogView& access = open();
    toolkit.expect(DialogId::kHost, [](FakeDialogView& host) {
        for (const char* name : {"ctl\x01", "tab\tname", "lat\xe9"}) {
            host.type(HostDlg::kName, name);
            host.click(kIdOk);
            EXPECT_FALSE(host.ended()) << name;
        }
        host.type(HostDlg::kName, "h\xc3\xa9te");
        host.click(kIdOk);
        EXPECT_EQ(host.result(), 1);
    });
    access.click(A::kAdd);
    ASSERT_EQ(toolkit.messages().size(), 3u);
    EXPECT_EQ(toolkit.messages()[0].text,
              "A host name must be UTF-8 text without control characters");
    EXPECT_EQ(dialog->workingCopy().count("h\xc3\xa9te"), 1u);
    EXPECT_EQ(dialog->workingCopy().size(), 3u);
}

TEST_F(AccessListsDlgTest, RightsTextsComeFromTheStringTable) {
    TempFolder folder;
    std::string path = folder.file("uitext.lng");
    FILE* file = fopen(path.c_str(), "wb");
    fputs("[strings]\r\n134=Ja\r\n135=Nein\r\n", file);
    fclose(file);
    ASSERT_TRUE(texts.loadLanguageFile(path));
    FakeDialogView& access = open();
    EXPECT_EQ(access.listRows()[0], (std::vector<std::string>{"alpha", "Nein", "Ja"}));
}

}  // namespace

namespace {

TEST_F(AccessListsDlgTest, VeryLongHostNamesCanStillBeEditedAndDeleted) {
    const std::string longName(300, 'h');
    settings.setAccessList({{longName, {true, true}}});
    FakeDialogView& access = open();
    access.selectRows(A::kHostList, {0});
    hostDialogEnters(longName, longName, false, false);
    access.click(A::kEdit);
    EXPECT_EQ(dialog->workingCopy().at(longName), (AccessRights{false, false}));

    toolkit.answer(MessageAnswer::Yes);
    access.click(A::kDelete);
    EXPECT_TRUE(dialog->workingCopy().empty());
}

}  // namespace

namespace {

TEST_F(AccessListsDlgTest, AddressEntriesAreAddedAsTypedEditedAndShown) {
    FakeDialogView& access = open();
    hostDialogEnters("", "FD00::/8", true, false);
    access.click(A::kAdd);
    hostDialogEnters("", "10.1.0.0/16", false, true);
    access.click(A::kAdd);
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_EQ(dialog->workingCopy().count("FD00::/8"), 1u);  // not lower-cased
    EXPECT_EQ(access.listRows(), (Rows{{"10.1.0.0/16", "No", "Yes"},
                                       {"alpha", "No", "Yes"},
                                       {"FD00::/8", "Yes", "No"},
                                       {"Zeta", "Yes", "No"}}));

    // Edit narrows the prefix and changes the rights; the row follows.
    access.selectRows(A::kHostList, {0});
    hostDialogEnters("10.1.0.0/16", "10.1.2.0/24", true, true);
    access.click(A::kEdit);
    EXPECT_EQ(dialog->workingCopy().count("10.1.0.0/16"), 0u);
    EXPECT_EQ(dialog->workingCopy().at("10.1.2.0/24"), (AccessRights{true, true}));
    EXPECT_EQ(access.listRows()[0], (std::vector<std::string>{"10.1.2.0/24", "Yes", "Yes"}));

    access.click(kIdOk);
    EXPECT_EQ(settings.getAccessList().count("FD00::/8"), 1u);
    EXPECT_EQ(settings.getAccessList().count("10.1.2.0/24"), 1u);
}

// With an address entry, unlisted peers get nothing: the designed note would be untrue.
TEST_F(AccessListsDlgTest, TheNoteAboveTheListStaysTrueAsAddressEntriesComeAndGo) {
    texts.storeText("form203", A::kNote, "Translated note");
    FakeDialogView& access = open();
    EXPECT_EQ(access.text(A::kNote), "Translated note");
    hostDialogEnters("", "10.1.0.0/16", true, true);
    access.click(A::kAdd);
    EXPECT_EQ(access.text(A::kNote), texts.getString(StringId::kAccessNoteWithAddresses));
    access.selectRows(A::kHostList, {0});
    toolkit.answer(MessageAnswer::Yes);
    access.click(A::kDelete);
    EXPECT_EQ(access.text(A::kNote), "Translated note");

    settings.setAccessList({{"10.1.0.0/33", {true, true}}});  // malformed still counts
    EXPECT_EQ(open().text(A::kNote), texts.getString(StringId::kAccessNoteWithAddresses));
}

TEST_F(AccessListsDlgTest, MalformedAddressEntriesAreRefusedWithTheReason) {
    FakeDialogView& access = open();
    toolkit.expect(DialogId::kHost, [](FakeDialogView& host) {
        for (const char* name : {"10.1.0.0/33", "fd00::/129", "10.1.2.3/16", " 10.1.2.3"}) {
            host.type(HostDlg::kName, name);
            host.click(kIdOk);
            EXPECT_FALSE(host.ended()) << name;
        }
        host.type(HostDlg::kName, "10.1.0.0/32");
        host.click(kIdOk);
        EXPECT_EQ(host.result(), 1);
    });
    access.click(A::kAdd);
    ASSERT_EQ(toolkit.messages().size(), 4u);
    EXPECT_EQ(toolkit.messages()[0].text,
              "Not a valid address or address prefix: the prefix length of an IPv4 address is 0 "
              "to 32");
    EXPECT_NE(toolkit.messages()[2].text.find("the network is 10.1.0.0/16"), std::string::npos);
    EXPECT_NE(toolkit.messages()[3].text.find("blanks"), std::string::npos);
    EXPECT_EQ(dialog->workingCopy().count("10.1.0.0/32"), 1u);
}

TEST_F(AccessListsDlgTest, TheSameNetworkInAnotherSpellingIsNotUnique) {
    settings.setAccessList({{"10.1.0.0/16", {true, true}}, {"fd00::/8", {true, true}}});
    FakeDialogView& access = open();
    hostDialogEnters("", "::ffff:10.1.0.0/112", true, true);
    hostDialogEnters("::ffff:10.1.0.0/112", "FD00::/8", true, true);
    hostDialogEnters("FD00::/8", "FD00::/8", true, true, kIdCancel);
    access.click(A::kAdd);
    EXPECT_EQ(toolkit.messages().size(), 2u);
    EXPECT_EQ(toolkit.messages()[1].text, "Host name is not unique");
    EXPECT_EQ(dialog->workingCopy().size(), 2u);

    // Rewriting an entry as another spelling of its own network is a rename, not a clash.
    access.selectRows(A::kHostList, {0});
    hostDialogEnters("10.1.0.0/16", "::ffff:10.1.0.0/112", true, false);
    access.click(A::kEdit);
    EXPECT_EQ(toolkit.messages().size(), 2u);
    EXPECT_EQ(dialog->workingCopy().at("::ffff:10.1.0.0/112"), (AccessRights{true, false}));
}

TEST_F(AccessListsDlgTest, AHeldMalformedEntryCanBeKeptOrCorrected) {
    settings.setAccessList({{"10.1.0.0/33", {true, true}}});
    FakeDialogView& access = open();
    access.selectRows(A::kHostList, {0});
    hostDialogEnters("10.1.0.0/33", "10.1.0.0/33", false, true);
    access.click(A::kEdit);
    EXPECT_EQ(dialog->workingCopy().at("10.1.0.0/33"), (AccessRights{false, true}));
    hostDialogEnters("10.1.0.0/33", "10.1.0.0/23", false, true);
    access.click(A::kEdit);
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_EQ(dialog->workingCopy(), (AccessList{{"10.1.0.0/23", {false, true}}}));
}

}  // namespace

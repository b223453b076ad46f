#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <cstdio>

#include "apps/VantorSyncAdm/AccessListsDlg.h"
#include "apps/VantorSyncAdm/HostDlg.h"
#include "apps/VantorSyncAdm/MainDlg.h"
#include "apps/VantorSyncAdm/SettingsDlg.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/SyncConnection.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "apps/VantorSyncAdm/qt/DialogUnits.h"
#include "apps/VantorSyncAdm/qt/QtToolkit.h"
#include "config/ByteStream.h"
#include "config/Settings.h"
#include "tests/console/FakeSyncObject.h"
#include "tests/console/QtDriver.h"
#include "tests/support/TempFolder.h"

namespace {

void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        QPoint indicator =
            box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator);
        return;
    }
    QTest::mouseClick(widget, Qt::LeftButton);
}

void typeInto(QWidget* widget, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(widget);
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

QString shown(QtDialog& dialog, int id) {
    return QString::fromStdString(dialog.text(id));
}

// Saves the dialog as <build>/screenshots/<name>.png after checking that text can be drawn.
void saveScreenshot(QWidget& window, const QString& name) {
    EXPECT_FALSE(QFontInfo(window.font()).family().isEmpty());
    QDir folder(QStringLiteral(VS_BIN_DIR "/../screenshots"));
    folder.mkpath(QStringLiteral("."));
    EXPECT_TRUE(window.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

class QtDialogsTest : public ::testing::Test {
  protected:
    QtDialogsTest() {
        texts.registerDialogs(dialogTemplates());
        texts.registerStringTable(builtInStrings());
        Settings defaults;
        service.setConfigText(defaults.configText());
    }

    // The main dialog as the program shows it, without a modal loop of its own.
    std::unique_ptr<QtDialog> showMain() {
        auto window =
            std::make_unique<QtDialog>(*findDialogTemplate(DialogId::kMain), main, nullptr);
        window->setAttribute(Qt::WA_DontShowOnScreen, false);
        main.onInit(*window);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }

    QString statusText(QtDialog& window) {
        auto* bar = window.findChild<QStatusBar*>();
        auto* label = bar ? bar->findChild<QLabel*>() : nullptr;
        return label ? label->text() : QString();
    }

    void lastSent(Settings& sent) {
        std::string text = service.lastPutText();
        MemoryByteStream stream(std::vector<uint8_t>(text.begin(), text.end()));
        ASSERT_TRUE(sent.loadFromStream(stream));
    }

    FakeService service;
    QtToolkit toolkit;
    ResMgr::TextManager texts;
    SyncConnection sync{fakeSyncFactory(service), toolkit, texts};
    ConsoleContext context{toolkit, texts, sync, VS_BIN_DIR "/VantorSyncAdm"};
    CMainDlg main{context};
    ModalDriver driver;
};

TEST_F(QtDialogsTest, DialogUnitsFollowTheFont) {
    DialogUnits units(dialogFont("MS Shell Dlg", 8));
    EXPECT_GT(units.baseX(), 3);
    EXPECT_GT(units.baseY(), 8);
    EXPECT_EQ(units.toPixelsX(4), units.baseX());
    EXPECT_EQ(units.toPixelsY(8), units.baseY());
    QtDialog window(*findDialogTemplate(DialogId::kMain), main, nullptr);
    EXPECT_EQ(window.width(), units.toPixelsX(312));
    EXPECT_EQ(window.control(CMainDlg::kStart)->geometry(), units.toPixels(220, 11, 89, 14));
    EXPECT_EQ(window.control(CMainDlg::kStart)->property("className").toString(), "Button");
    EXPECT_EQ(window.property("className").toString(), "#32770");
}

TEST_F(QtDialogsTest, MainDialogSwitchesTheServiceAndClosesWithTheCommandId) {
    service.setCounts(12, 34);
    auto window = showMain();
    EXPECT_EQ(statusText(*window), "Sync server is stopped; the service is running");
    EXPECT_EQ(shown(*window, CMainDlg::kWhitelistCount), "12");
    EXPECT_FALSE(window->control(CMainDlg::kStop)->isEnabled());

    click(window->control(CMainDlg::kStart));
    EXPECT_EQ(service.enabled, 1);
    EXPECT_EQ(statusText(*window), "Service is active");
    EXPECT_FALSE(window->control(CMainDlg::kStart)->isEnabled());

    service.setCounts(56, 78);
    click(window->control(CMainDlg::kRefresh));
    EXPECT_EQ(shown(*window, CMainDlg::kDescriptorCount), "78");
    saveScreenshot(*window, "main");

    // Refresh has the focus since its click; Enter then goes to the default command only
    // once no push button is focused.
    window->focusWidget()->clearFocus();
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(window->result(), 1);
    EXPECT_FALSE(window->isVisible());

    auto second = showMain();
    QTest::keyClick(second.get(), Qt::Key_Escape);
    EXPECT_EQ(second->result(), 2);

    auto third = showMain();
    third->close();
    EXPECT_EQ(third->result(), 2);
    EXPECT_FALSE(third->isVisible());
}

TEST_F(QtDialogsTest, UnavailableServiceShowsOneErrorBoxAndReady) {
    service.creationFails = true;
    QString text;
    QString caption;
    driver.onMessageBox([&](QMessageBox& box) {
        text = box.text();
        caption = box.windowTitle();
        box.button(QMessageBox::Ok)->click();
    });
    auto window = showMain();
    EXPECT_TRUE(driver.allDone());
    EXPECT_EQ(text, "The service is not available.");
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(statusText(*window), "Ready");
    EXPECT_TRUE(window->control(CMainDlg::kStart)->isEnabled());
    EXPECT_TRUE(window->control(CMainDlg::kStop)->isEnabled());
}

TEST_F(QtDialogsTest, SettingsRefusesZeroStepsTheLifetimeAndSendsTheEdits) {
    auto window = showMain();
    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        EXPECT_EQ(shown(settings, SettingsDlg::kPort), "17080");
        EXPECT_EQ(shown(settings, SettingsDlg::kDataFolder), "/var/lib/VantorSyncSvc/");
        typeInto(settings.control(SettingsDlg::kPort), "");
        QString refusal;
        driver.answerMessageBox(QMessageBox::Ok, &refusal);
        click(settings.control(kIdOk));
        EXPECT_TRUE(refusal.contains("1 to 65535"));
        EXPECT_TRUE(settings.isVisible());
        EXPECT_EQ(settings.focusedControl(), SettingsDlg::kPort);

        typeInto(settings.control(SettingsDlg::kPort), "8080");
        typeInto(settings.control(SettingsDlg::kLogFileLifetime), "1000");
        auto* upDown = settings.control(SettingsDlg::kLifetimeUpDown);
        click(upDown->findChild<QToolButton*>("up"));
        EXPECT_EQ(shown(settings, SettingsDlg::kLogFileLifetime), "1000");
        click(upDown->findChild<QToolButton*>("down"));
        QTest::keyClick(settings.control(SettingsDlg::kLogFileLifetime), Qt::Key_Down);
        EXPECT_EQ(shown(settings, SettingsDlg::kLogFileLifetime), "998");
        click(settings.control(SettingsDlg::kLogEnabled));
        saveScreenshot(settings, "settings");
        QTest::keyClick(settings.control(SettingsDlg::kPort), Qt::Key_Return);
    });
    click(window->control(CMainDlg::kSettings));
    ASSERT_TRUE(driver.allDone());

    ASSERT_EQ(service.putConfigs.size(), 1u);
    Settings sent;
    lastSent(sent);
    EXPECT_EQ(sent.getValues().port, 8080);
    EXPECT_EQ(sent.getValues().logFileLifetime, 998);
    EXPECT_FALSE(sent.getValues().logEnabled);
}

TEST_F(QtDialogsTest, ClearAsksAndCancelSendsNothing) {
    auto window = showMain();
    QString question;
    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        click(settings.control(SettingsDlg::kClearWhitelist));
        click(settings.control(SettingsDlg::kClearTrainingDb));
        QTest::keyClick(&settings, Qt::Key_Escape);
    });
    driver.answerMessageBox(QMessageBox::No, &question);
    driver.answerMessageBox(QMessageBox::Yes);
    click(window->control(CMainDlg::kSettings));
    ASSERT_TRUE(driver.allDone());
    EXPECT_EQ(question, "Clear the common whitelist of email addresses?");
    EXPECT_EQ(service.callCount("clearWhitelist"), 0);
    EXPECT_EQ(service.callCount("clearTrainingDb"), 1);
    EXPECT_TRUE(service.putConfigs.empty());
}

TEST_F(QtDialogsTest, AccessRightsAddEditDeleteThroughTheWidgets) {
    Settings initial;
    initial.setAccessList({{"Zeta", {true, false}}, {"alpha", {false, true}}});
    service.setConfigText(initial.configText());
    auto window = showMain();
    QString refusal;

    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        click(settings.control(SettingsDlg::kAccessRights));
        click(settings.control(kIdOk));
    });
    driver.onDialog(DialogId::kAccessLists, [&](QtDialog& access) {
        auto* table = qobject_cast<QTableWidget*>(access.control(AccessListsDlg::kHostList));
        ASSERT_EQ(table->rowCount(), 2);
        EXPECT_EQ(table->item(0, 0)->text(), "alpha");
        EXPECT_EQ(table->horizontalHeaderItem(1)->text(), "Allowed Get");
        EXPECT_FALSE(access.control(AccessListsDlg::kEdit)->isEnabled());
        click(access.control(AccessListsDlg::kAdd));
        click(access.control(AccessListsDlg::kAdd));
        EXPECT_EQ(table->rowCount(), 3);
        EXPECT_EQ(table->item(1, 0)->text(), "mail.example.com");

        // Enter with the list focused edits the selected host.
        table->setFocus();
        table->selectRow(2);
        EXPECT_TRUE(access.control(AccessListsDlg::kEdit)->isEnabled());
        QTest::keyClick(table, Qt::Key_Return);
        EXPECT_TRUE(access.isVisible());
        EXPECT_EQ(table->item(2, 1)->text(), "No");

        table->clearSelection();
        table->selectionModel()->select(table->model()->index(0, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        table->selectionModel()->select(table->model()->index(2, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        click(access.control(AccessListsDlg::kDelete));
        EXPECT_EQ(table->rowCount(), 1);
        saveScreenshot(access, "access_rights");
        click(access.control(AccessListsDlg::kDefaultPost));
        click(access.control(kIdOk));
    });
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        EXPECT_EQ(host.focusedControl(), HostDlg::kName);
        QTest::keyClicks(host.control(HostDlg::kName), "Mail.Example.COM");
        click(host.control(HostDlg::kAllowPost));
        saveScreenshot(host, "host");
        click(host.control(kIdOk));
    });
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        QTest::keyClicks(host.control(HostDlg::kName), "MAIL.example.com");
        QTest::keyClick(host.control(HostDlg::kName), Qt::Key_Return);
    });
    driver.answerMessageBox(QMessageBox::Ok, &refusal);
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        EXPECT_EQ(shown(host, HostDlg::kName), "mail.example.com");
        QTest::keyClick(&host, Qt::Key_Escape);
    });
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        EXPECT_EQ(shown(host, HostDlg::kName), "Zeta");
        click(host.control(HostDlg::kAllowGet));
        click(host.control(kIdOk));
    });
    driver.answerMessageBox(QMessageBox::Yes);

    click(window->control(CMainDlg::kSettings));
    ASSERT_TRUE(driver.allDone());
    EXPECT_EQ(refusal, "Host name is not unique");
    Settings sent;
    lastSent(sent);
    EXPECT_EQ(sent.getAccessList(), (AccessList{{"mail.example.com", {true, false}}}));
    EXPECT_EQ(sent.getValues().defaultAcl, (AccessRights{true, false}));
}

TEST_F(QtDialogsTest, AddressEntriesAreAddedAndEditedThroughTheWidgets) {
    Settings initial;
    initial.setAccessList({{"10.1.0.0/16", {true, true}}, {"alpha", {false, true}}});
    service.setConfigText(initial.configText());
    auto window = showMain();
    QString refusal;

    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        click(settings.control(SettingsDlg::kAccessRights));
        click(settings.control(kIdOk));
    });
    driver.onDialog(DialogId::kAccessLists, [&](QtDialog& access) {
        auto* table = qobject_cast<QTableWidget*>(access.control(AccessListsDlg::kHostList));
        click(access.control(AccessListsDlg::kAdd));
        ASSERT_EQ(table->rowCount(), 3);
        EXPECT_EQ(table->item(2, 0)->text(), "FD00::/8");
        EXPECT_EQ(table->item(2, 2)->text(), "No");
        table->selectRow(0);
        click(access.control(AccessListsDlg::kEdit));
        EXPECT_EQ(table->item(0, 0)->text(), "10.1.2.0/24");
        EXPECT_EQ(table->item(0, 1)->text(), "No");
        click(access.control(kIdOk));
    });
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        typeInto(host.control(HostDlg::kName), "10.1.0.0/33");
        click(host.control(kIdOk));
    });
    driver.answerMessageBox(QMessageBox::Ok, &refusal);
    // The refused entry leaves the same host dialog open for a correction.
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        EXPECT_EQ(shown(host, HostDlg::kName), "10.1.0.0/33");
        typeInto(host.control(HostDlg::kName), "FD00::/8");
        click(host.control(HostDlg::kAllowPost));
        click(host.control(kIdOk));
    });
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        EXPECT_EQ(shown(host, HostDlg::kName), "10.1.0.0/16");
        typeInto(host.control(HostDlg::kName), "10.1.2.0/24");
        click(host.control(HostDlg::kAllowGet));
        click(host.control(kIdOk));
    });

    click(window->control(CMainDlg::kSettings));
    ASSERT_TRUE(driver.allDone());
    EXPECT_EQ(refusal,
              "Not a valid address or address prefix: the prefix length of an IPv4 address is 0 "
              "to 32");
    Settings sent;
    lastSent(sent);
    EXPECT_EQ(sent.getAccessList(), (AccessList{{"10.1.2.0/24", {false, true}},
                                                {"FD00::/8", {true, false}},
                                                {"alpha", {false, true}}}));
}

// Enter goes to the focused push button, and to the default button only when no push
// button has the focus, in every dialog.
TEST_F(QtDialogsTest, EnterOnAFocusedButtonPressesThatButton) {
    auto window = showMain();
    QString deleteQuestion;
    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        settings.control(SettingsDlg::kAccessRights)->setFocus();
        QTest::keyClick(settings.control(SettingsDlg::kAccessRights), Qt::Key_Return);
        EXPECT_TRUE(settings.isVisible());
        settings.control(kIdCancel)->setFocus();
        QTest::keyClick(settings.control(kIdCancel), Qt::Key_Return);
        EXPECT_FALSE(settings.isVisible());
        EXPECT_EQ(settings.result(), kIdCancel);
    });
    driver.onDialog(DialogId::kAccessLists, [&](QtDialog& access) {
        auto* table = qobject_cast<QTableWidget*>(access.control(AccessListsDlg::kHostList));
        table->selectRow(0);
        access.control(AccessListsDlg::kDelete)->setFocus();
        QTest::keyClick(access.control(AccessListsDlg::kDelete), Qt::Key_Return);
        EXPECT_TRUE(access.isVisible());
        EXPECT_EQ(table->rowCount(), 0);
        access.control(AccessListsDlg::kAdd)->setFocus();
        QTest::keyClick(access.control(AccessListsDlg::kAdd), Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(table->rowCount(), 0);  // the host dialog was cancelled
        access.control(kIdCancel)->setFocus();
        QTest::keyClick(access.control(kIdCancel), Qt::Key_Return);
        EXPECT_FALSE(access.isVisible());
        EXPECT_EQ(access.result(), kIdCancel);
    });
    driver.answerMessageBox(QMessageBox::Yes, &deleteQuestion);
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        QTest::keyClicks(host.control(HostDlg::kName), "typed.example.com");
        host.control(kIdCancel)->setFocus();
        QTest::keyClick(host.control(kIdCancel), Qt::Key_Return);
        EXPECT_FALSE(host.isVisible());
        EXPECT_EQ(host.result(), kIdCancel);
    });
    driver.onDialog(DialogId::kAbout, [&](QtDialog& about) {
        about.control(kIdOk)->setFocus();
        QTest::keyClick(about.control(kIdOk), Qt::Key_Return);
        EXPECT_EQ(about.result(), kIdOk);
    });

    Settings initial;
    initial.setAccessList({{"one", {true, true}}});
    service.setConfigText(initial.configText());
    window->control(CMainDlg::kSettings)->setFocus();
    QTest::keyClick(window->control(CMainDlg::kSettings), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    window->control(CMainDlg::kAbout)->setFocus();
    QTest::keyClick(window->control(CMainDlg::kAbout), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(driver.allDone());
    EXPECT_EQ(deleteQuestion, "Delete the selected items?");
    EXPECT_TRUE(service.putConfigs.empty());

    window->control(CMainDlg::kStart)->setFocus();
    QTest::keyClick(window->control(CMainDlg::kStart), Qt::Key_Return);
    EXPECT_EQ(service.enabled, 1);
    EXPECT_TRUE(window->isVisible());
    // With no button focused the dialog's default command (OK) takes Enter.
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), kIdOk);
}

// The list shows a name that is not UTF-8 with a replacement character; editing and
// deleting still reach the entry, and the name goes back to the service byte for byte.
TEST_F(QtDialogsTest, HostNamesThatAreNotUtf8CanBeEditedAndDeleted) {
    const std::string bad = "bad\xff.example";
    Settings initial;
    initial.setAccessList({{bad, {true, true}}, {"good", {true, true}}});
    service.setConfigText(initial.configText());
    auto window = showMain();

    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        click(settings.control(SettingsDlg::kAccessRights));
        click(settings.control(kIdOk));
    });
    driver.onDialog(DialogId::kAccessLists, [&](QtDialog& access) {
        auto* table = qobject_cast<QTableWidget*>(access.control(AccessListsDlg::kHostList));
        ASSERT_EQ(table->rowCount(), 2);
        EXPECT_EQ(table->item(0, 0)->text(), QString::fromUtf8("bad\xef\xbf\xbd.example"));
        table->selectRow(0);
        click(access.control(AccessListsDlg::kEdit));
        click(access.control(kIdOk));
    });
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        click(host.control(HostDlg::kAllowPost));
        click(host.control(kIdOk));
    });
    click(window->control(CMainDlg::kSettings));
    ASSERT_TRUE(driver.allDone());
    Settings sent;
    lastSent(sent);
    EXPECT_EQ(sent.getAccessList(), (AccessList{{bad, {true, false}}, {"good", {true, true}}}));

    service.setConfigText(sent.configText());
    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        click(settings.control(SettingsDlg::kAccessRights));
        click(settings.control(kIdOk));
    });
    driver.onDialog(DialogId::kAccessLists, [&](QtDialog& access) {
        auto* table = qobject_cast<QTableWidget*>(access.control(AccessListsDlg::kHostList));
        table->selectRow(0);
        click(access.control(AccessListsDlg::kDelete));
        EXPECT_EQ(table->rowCount(), 1);
        click(access.control(kIdOk));
    });
    driver.answerMessageBox(QMessageBox::Yes);
    click(window->control(CMainDlg::kSettings));
    ASSERT_TRUE(driver.allDone());
    Settings sentAgain;
    lastSent(sentAgain);
    EXPECT_EQ(sentAgain.getAccessList(), (AccessList{{"good", {true, true}}}));
}

TEST_F(QtDialogsTest, AboutShowsTheProgramVersion) {
    auto window = showMain();
    driver.onDialog(DialogId::kAbout, [&](QtDialog& about) {
        EXPECT_EQ(shown(about, 1035), "1, 0, 0, 0");
        saveScreenshot(about, "about");
        QTest::keyClick(&about, Qt::Key_Return);
    });
    click(window->control(CMainDlg::kAbout));
    EXPECT_TRUE(driver.allDone());
}

TEST_F(QtDialogsTest, LanguageFileRelabelsTheMainDialog) {
    TempFolder folder;
    std::string path = folder.file("uitext.lng");
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fputs(
        "[FORM129]\r\n0=Mailvane SyncServer Konsole\r\n1010=Starten\r\n1011=Anhalten\r\n"
        "1012=Einstellungen...\r\n57664=Info...\r\n2=Schlie\xc3\x9f"
        "en\r\n1001=Statistik\r\n"
        "1026=Eintr\xc3\xa4ge in der gemeinsamen Whitelist:\r\n"
        "1027=Nachrichtenbeschreibungen:\r\n1002=Aktualisieren\r\n"
        "[strings]\r\n130=Dienst ist angehalten\r\n",
        file);
    std::fclose(file);
    ASSERT_TRUE(texts.loadLanguageFile(path));
    auto window = showMain();
    EXPECT_EQ(window->windowTitle(), "Mailvane SyncServer Konsole");
    EXPECT_EQ(shown(*window, CMainDlg::kClose), QString::fromUtf8("Schlie\xc3\x9f"
                                                                  "en"));
    EXPECT_EQ(statusText(*window), "Dienst ist angehalten");
    saveScreenshot(*window, "main_translated");
}

}  // namespace

// The console against a real VantorSyncSvc on the session bus of dbus-run-session.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "apps/VantorSyncAdm/AccessListsDlg.h"
#include "apps/VantorSyncAdm/DBusSyncObject.h"
#include "apps/VantorSyncAdm/HostDlg.h"
#include "apps/VantorSyncAdm/MainDlg.h"
#include "apps/VantorSyncAdm/SettingsDlg.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/SyncConnection.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "apps/VantorSyncAdm/qt/QtToolkit.h"
#include "config/Settings.h"
#include "tests/console/QtDriver.h"
#include "tests/support/TempFolder.h"

extern char** environ;

namespace {

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool listening(int port) {
    int fd = connectTo(port);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

// One request on a fresh connection; the status line of the answer.
std::string post(int port, const std::string& path, const std::string& body) {
    int fd = connectTo(port);
    if (fd < 0)
        return std::string();
    std::string request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Host: ws1\r\n" +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    ::send(fd, request.data(), request.size(), 0);
    char answer[512];
    ssize_t got = ::recv(fd, answer, sizeof answer, 0);
    ::close(fd);
    std::string text(answer, got > 0 ? got : 0);
    return text.substr(0, text.find("\r\n"));
}

std::string whitelistRecord(uint8_t op, int64_t key) {
    std::string record(1, static_cast<char>(op));
    for (int shift = 0; shift < 64; shift += 8)
        record += static_cast<char>(static_cast<uint64_t>(key) >> shift);
    return record;
}

std::string descriptor(uint32_t label, const std::vector<int64_t>& values) {
    std::string record;
    auto put32 = [&](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            record += static_cast<char>(value >> shift);
    };
    put32(label);
    put32(1);
    put32(static_cast<uint32_t>(values.size()));
    for (int64_t value : values) {
        for (int shift = 0; shift < 64; shift += 8)
            record += static_cast<char>(static_cast<uint64_t>(value) >> shift);
    }
    return record;
}

class ConsoleEndToEndTest : public ::testing::Test {
  protected:
    ConsoleEndToEndTest() {
        ::setenv("VANTORSYNC_BUS", "session", 1);
        texts.registerDialogs(dialogTemplates());
        texts.registerStringTable(builtInStrings());
        startService();
    }

    ~ConsoleEndToEndTest() override { stopService(); }

    void stopService() {
        if (service > 0) {
            ::kill(service, SIGTERM);
            int status = 0;
            ::waitpid(service, &status, 0);
            service = 0;
        }
    }

    void startService() {
        std::string folder = home.file("VantorSyncSvc");
        ::mkdir(folder.c_str(), 0700);
        std::ofstream(folder + "/config.xml", std::ios::binary)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config>\r\n"
            << "  <port>" << port << "</port>\r\n</config>";
        std::vector<std::string> variables = {"XDG_CONFIG_HOME=" + home.path(),
                                              "HOME=" + home.path(), "VANTORSYNC_BUS=session"};
        std::vector<char*> environment;
        for (std::string& variable : variables)
            environment.push_back(variable.data());
        for (char** inherited = environ; *inherited != nullptr; ++inherited) {
            std::string name(*inherited);
            name = name.substr(0, name.find('='));
            if (name != "XDG_CONFIG_HOME" && name != "HOME" && name != "VANTORSYNC_BUS")
                environment.push_back(*inherited);
        }
        environment.push_back(nullptr);
        char program[] = VS_SERVICE_PROGRAM;
        char foreground[] = "-Foreground";
        char* arguments[] = {program, foreground, nullptr};
        ASSERT_EQ(::posix_spawn(&service, program, nullptr, nullptr, arguments, environment.data()),
                  0);
        // Ready once the management object answers on the bus.
        auto factory = dbusSyncObjectFactory();
        for (int attempt = 0; attempt < 300; ++attempt) {
            SyncResult failure;
            auto object = factory(failure);
            int32_t enabled = 0;
            if (object && object->getEnabled(enabled).ok)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        FAIL() << "the service did not come up on the bus";
    }

    std::unique_ptr<QtDialog> showMain() {
        auto window =
            std::make_unique<QtDialog>(*findDialogTemplate(DialogId::kMain), main, nullptr);
        main.onInit(*window);
        window->show();
        return window;
    }

    QString statusText(QtDialog& window) {
        auto* bar = window.findChild<QStatusBar*>();
        return bar ? bar->findChild<QLabel*>()->text() : QString();
    }

    TempFolder home;
    int port = freePort();
    pid_t service = 0;
    QtToolkit toolkit;
    ResMgr::TextManager texts;
    SyncConnection sync{dbusSyncObjectFactory(), toolkit, texts};
    ConsoleContext context{toolkit, texts, sync, VS_BIN_DIR "/VantorSyncAdm"};
    CMainDlg main{context};
    ModalDriver driver;
};

TEST_F(ConsoleEndToEndTest, StartAndStopSwitchTheHttpServer) {
    auto window = showMain();
    EXPECT_EQ(statusText(*window), "Service is active");
    EXPECT_TRUE(listening(port));

    QTest::mouseClick(window->control(CMainDlg::kStop), Qt::LeftButton);
    EXPECT_EQ(statusText(*window), "Sync server is stopped; the service is running");
    EXPECT_FALSE(listening(port));

    QTest::mouseClick(window->control(CMainDlg::kStart), Qt::LeftButton);
    EXPECT_EQ(statusText(*window), "Service is active");
    EXPECT_TRUE(listening(port));
}

// A bus without the service, then no bus at all: the window says so with the error icon and
// only what can work enabled, and Refresh finds the service once it is back.
TEST_F(ConsoleEndToEndTest, WithoutTheServiceOrItsBusTheWindowSaysSoAndRecovers) {
    stopService();
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string sessionBus = address != nullptr ? address : "";
    for (const char* bus : {sessionBus.c_str(), "unix:path=/nonexistent/bus"}) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus, 1);
        QString shown;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        driver.onMessageBox([&](QMessageBox& box) {
            shown = box.text();
            icon = box.icon();
            box.button(QMessageBox::Ok)->click();
        });
        auto window = showMain();
        ASSERT_TRUE(driver.allDone()) << bus;
        EXPECT_TRUE(shown.startsWith(
            QString::fromStdString(texts.getString(StringId::kServiceUnreachable))))
            << shown.toStdString();
        EXPECT_EQ(icon, QMessageBox::Critical);
        EXPECT_EQ(statusText(*window), "Service cannot be reached") << bus;
        for (int id : {CMainDlg::kStart, CMainDlg::kStop, CMainDlg::kSettings})
            EXPECT_FALSE(window->isEnabled(id)) << bus << " " << id;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", sessionBus.c_str(), 1);
    driver.answerMessageBox(QMessageBox::Ok);
    auto window = showMain();
    startService();
    QTest::mouseClick(window->control(CMainDlg::kRefresh), Qt::LeftButton);
    EXPECT_EQ(statusText(*window), "Service is active");
    EXPECT_TRUE(window->isEnabled(CMainDlg::kSettings));
}

TEST_F(ConsoleEndToEndTest, SettingsOkRewritesTheServiceConfiguration) {
    auto window = showMain();
    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        EXPECT_EQ(settings.text(SettingsDlg::kPort), std::to_string(port));
        EXPECT_EQ(settings.text(SettingsDlg::kDataFolder), home.file("VantorSyncSvc") + "/");
        settings.setText(SettingsDlg::kLogFileLifetime, "33");
        QTest::mouseClick(settings.control(SettingsDlg::kAccessRights), Qt::LeftButton);
        QTest::mouseClick(settings.control(kIdOk), Qt::LeftButton);
    });
    driver.onDialog(DialogId::kAccessLists, [&](QtDialog& access) {
        QTest::mouseClick(access.control(AccessListsDlg::kAdd), Qt::LeftButton);
        QTest::mouseClick(access.control(kIdOk), Qt::LeftButton);
    });
    driver.onDialog(DialogId::kHost, [&](QtDialog& host) {
        QTest::keyClicks(host.control(HostDlg::kName), "WS9");
        host.setChecked(HostDlg::kAllowPost, false);
        QTest::mouseClick(host.control(kIdOk), Qt::LeftButton);
    });
    QTest::mouseClick(window->control(CMainDlg::kSettings), Qt::LeftButton);
    ASSERT_TRUE(driver.allDone());

    Settings written;
    ASSERT_TRUE(written.loadFile(home.file("VantorSyncSvc/config.xml")));
    EXPECT_EQ(written.getValues().logFileLifetime, 33);
    EXPECT_EQ(written.getValues().port, port);
    EXPECT_EQ(written.getAccessList(), (AccessList{{"ws9", {true, false}}}));
}

TEST_F(ConsoleEndToEndTest, StatisticsShowPushedItemsAndClearEmptiesTheWhitelist) {
    ASSERT_EQ(post(port, "/post_wl_updates",
                   whitelistRecord(1, 5) + whitelistRecord(1, -3) + whitelistRecord(0, 5)),
              "HTTP/1.1 200 OK");
    ASSERT_EQ(post(port, "/post_ts_updates", descriptor(7, {1, 2, 3})), "HTTP/1.1 200 OK");
    auto window = showMain();
    EXPECT_EQ(window->text(CMainDlg::kWhitelistCount), "3");
    EXPECT_EQ(window->text(CMainDlg::kDescriptorCount), "1");

    driver.onDialog(DialogId::kSettings, [&](QtDialog& settings) {
        QTest::mouseClick(settings.control(SettingsDlg::kClearWhitelist), Qt::LeftButton);
        QTest::keyClick(&settings, Qt::Key_Escape);
    });
    driver.answerMessageBox(QMessageBox::Yes);
    QTest::mouseClick(window->control(CMainDlg::kSettings), Qt::LeftButton);
    ASSERT_TRUE(driver.allDone());

    QTest::mouseClick(window->control(CMainDlg::kRefresh), Qt::LeftButton);
    EXPECT_EQ(window->text(CMainDlg::kWhitelistCount), "0");
    EXPECT_EQ(window->text(CMainDlg::kDescriptorCount), "1");
}

}  // namespace

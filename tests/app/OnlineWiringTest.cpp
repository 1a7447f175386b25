#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AspectData.h"
#include "CDlgProgressIndicator.h"
#include "FrameEngineCallbacks.h"
#include "CDlgFilesToUpload.h"
#include "CUpdateDlg.h"
#include "CommandIds.h"
#include "LoopbackHttpServer.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "Profile.h"
#include "Screenshot.h"
#include "TestData.h"
#include "UiServices.h"

namespace {

using Clock = std::chrono::steady_clock;

// The program started against the loopback server, with a fresh profile and
// data folder; the profile's last check lies `daysAgo` back (none when < 0).
struct OnlineStart {
    explicit OnlineStart(int daysAgo) : savedData(qgetenv("XDG_DATA_HOME")) {
        setenv("XDG_DATA_HOME", data.path().c_str(), 1);
        setenv("no_proxy", "127.0.0.1", 1);
        setenv("OVHORIZEL_ONLINE_SERVER", server.Origin().c_str(), 1);
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        if (daysAgo >= 0)
            AppProfile::WriteProfileString(
                "MAIN", "XVALUE_T",
                CUpdateCheck::FormatDate(std::time(nullptr) - static_cast<std::time_t>(daysAgo) * 86400));
        UiServices::SetMessageHandler([this](QWidget*, const QString& t, const QString&) { messages << t; });
        server.On("/checkupdate/updateurl.html", Loopback::Response::Text(server.Origin() + "/check"));
    }
    ~OnlineStart() {
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
        unsetenv("OVHORIZEL_ONLINE_SERVER");
        qputenv("XDG_DATA_HOME", savedData);
    }
    bool Start() { return app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", {}); }
    CMainFrame& frame() { return *app.GetMainFrame(); }
    // Lets the background check end and its announcement arrive.
    void Settle() {
        while (GetUpdateCheck().IsRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        QApplication::sendPostedEvents();
        QApplication::processEvents();
    }

    QByteArray savedData;
    TestData::ScratchDir data;
    QTemporaryDir dir;
    Loopback::Server server;
    QStringList messages;
    COvHorizelApp app;
};

}  // namespace

TEST(OnlineWiring, StartUpCheckAnnouncesAnUpdateAndStoresItsValues) {
    OnlineStart s(20);
    s.server.On("/check",
                Loopback::Response::Text(
                    "<status>1</status><message80>Version 2.2 is out</message80>"
                    "<updateurl>http://update.example/get</updateurl><nextcheckindays>9</nextcheckindays>"));
    ASSERT_TRUE(s.Start());
    s.Settle();
    auto* dialog = s.frame().findChild<CUpdateDlg*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->Info()->toPlainText(), "Version 2.2 is out");
    SaveScreenshot(dialog, "online_updates_from_start_up");
    EXPECT_EQ(AppProfile::GetProfileString("MAIN", "XVALUE_T"), CUpdateCheck::FormatDate(std::time(nullptr)));
    EXPECT_EQ(AppProfile::GetProfileInt("MAIN", "XVALUE_D", 0), 9);
    dialog->reject();
}

TEST(OnlineWiring, AStalledServerNeitherDelaysStartUpNorTheWindow) {
    OnlineStart s(20);
    Loopback::Response stall;
    stall.hang = true;
    s.server.On("/checkupdate/updateurl.html", stall);
    const auto start = Clock::now();
    ASSERT_TRUE(s.Start());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(GetUpdateCheck().IsRunning());
    // Quitting while the check hangs ends it.
    s.app.ExitInstance();
    EXPECT_FALSE(GetUpdateCheck().IsRunning());
    EXPECT_TRUE(s.messages.isEmpty());
}

TEST(OnlineWiring, CheckForUpdatesCommand) {
    OnlineStart s(-1);
    ASSERT_TRUE(s.Start());
    s.Settle();
    EXPECT_EQ(s.server.Count("/check"), 0);  // a first run only records the date
    QAction* action = s.frame().Action(CmdId::CheckForUpdates);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), "Check for &Updates...");

    s.server.On("/check", Loopback::Response::Text("<status>0</status>"));
    action->trigger();
    while (s.frame().IsCheckingForUpdates())
        QTest::qWait(1);
    s.Settle();
    EXPECT_EQ(s.messages, QStringList{"No updates found!"});
    EXPECT_EQ(s.frame().findChild<CUpdateDlg*>(), nullptr);

    s.server.On("/check", Loopback::Response::Text("<status>2</status><message40>Fix</message40>"));
    action->trigger();
    while (s.frame().IsCheckingForUpdates())
        QTest::qWait(1);
    s.Settle();
    EXPECT_EQ(s.messages.size(), 1);
    auto* dialog = s.frame().findChild<CUpdateDlg*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Text()->text(), "Critical updates are available for your version of software");
    dialog->reject();

    // A server that fails, then none at all: the message says the check did
    // not get through and why, soon; never that there is nothing new.
    const QString unreachable = "The check for updates could not reach the server:\n";
    s.server.On("/check", Loopback::Response::Text("busy", 503));
    s.messages.clear();
    action->trigger();
    while (s.frame().IsCheckingForUpdates())
        QTest::qWait(1);
    s.Settle();
    EXPECT_EQ(s.messages, QStringList{unreachable + "HTTP 503"});
    s.server.Stop();
    s.messages.clear();
    const auto start = Clock::now();
    action->trigger();
    while (s.frame().IsCheckingForUpdates())
        QTest::qWait(1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(s.messages, QStringList{unreachable + "Couldn't connect to server"});
}

TEST(OnlineWiring, PendingPanoramasAreOfferedAtStartUp) {
    OnlineStart s(0);
    const std::string logs = GetNetPrintLogsFolder();
    std::ofstream(logs + "/Panorama1.jpg") << "x";
    bool offered = false;
    // The dialog is modal: answer "Later" once it shows.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* d =
                qobject_cast<NetPrint::PhotoUpload::CDlgFilesToUpload*>(QApplication::activeModalWidget())) {
            offered = true;
            EXPECT_EQ(d->Tree()->topLevelItemCount(), 1);
            SaveScreenshot(d, "online_files_to_upload_at_start_up");
            d->reject();
        }
    });
    timer.start(20);
    ASSERT_TRUE(s.Start());
    EXPECT_TRUE(offered);
    EXPECT_TRUE(std::filesystem::exists(logs + "/Panorama1.jpg"));
    EXPECT_TRUE(s.server.Requests().empty());
}

TEST(OnlineWiring, ACheckOnDemandKeepsTheWindowAliveAndCancels) {
    OnlineStart s(0);
    Loopback::Response stall;
    stall.hang = true;
    s.server.On("/checkupdate/updateurl.html", stall);
    ASSERT_TRUE(s.Start());
    s.Settle();
    // A 10 ms timer stands for the window's work; Cancel comes after 400 ms.
    auto last = Clock::now();
    Clock::duration longest{};
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, Clock::now() - last);
        last = Clock::now();
    });
    tick.start(10);
    Clock::time_point cancelAt;
    QTimer::singleShot(400, [&] {
        cancelAt = Clock::now();
        s.frame().Callbacks().ProgressWindow()->reject();
    });
    last = Clock::now();
    s.frame().Action(CmdId::CheckForUpdates)->trigger();
    // The check waits off this thread; its end comes back as a queued call.
    while (s.frame().IsCheckingForUpdates())
        QTest::qWait(1);
    const auto back = Clock::now() - cancelAt;
    tick.stop();
    EXPECT_LT(back, std::chrono::seconds(1));
    // Far below the stalled server's time-outs: the window was never held.
    EXPECT_LT(longest, std::chrono::milliseconds(500));
    RecordProperty("longest_event_gap_ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
    RecordProperty("cancel_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(back).count()));
    // Cancelled: no closing message.
    EXPECT_TRUE(s.messages.isEmpty());
}

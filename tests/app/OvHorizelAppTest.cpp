#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "Profile.h"

namespace {

// A program folder whose Res/ is the default skin.
std::string ProgramPath() {
    return std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel";
}

std::vector<std::string> Samples(int count) {
    std::vector<std::string> files;
    for (int i = 1; i <= count; ++i)
        files.push_back(std::string(OVH_SAMPLES_DIR) + "/boat-row/boat" + std::to_string(i) + ".jpg");
    return files;
}

}  // namespace

TEST(OvHorizelApp, StartsWithTheFilesOfItsCommandLine) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    struct Case {
        int files;
        int task;
    };
    for (const Case c : {Case{0, 1}, Case{1, 1}, Case{6, 2}}) {
        COvHorizelApp app;
        std::vector<std::string> args = Samples(c.files);
        args.push_back(dir.path().toStdString() + "/notes.txt");
        ASSERT_TRUE(app.InitInstance(ProgramPath(), args));
        ASSERT_NE(app.GetMainFrame(), nullptr);
        EXPECT_EQ(app.GetMainFrame()->Document().GetPhotoList().GetCount(), size_t(c.files));
        EXPECT_EQ(app.GetMainFrame()->GetTask(), c.task);
        EXPECT_EQ(AppProfile::GetProfileInt("GENERAL", "NOTFIRSTLAUNCH", -1), 0) << "while running";
        EXPECT_EQ(app.GetSkinColor("TASK TABS", "BACKGROND COLOR", Qt::red), QColor(44, 62, 92))
            << "the default skin";
        EXPECT_FALSE(app.LoadSkinImage("MAIN", "LOGO_TAB").isNull());
        EXPECT_EQ(app.ExitInstance(), 0);
        EXPECT_EQ(AppProfile::GetProfileInt("GENERAL", "NOTFIRSTLAUNCH", -1), 1) << "after a normal exit";
    }
}

TEST(OvHorizelApp, RegistrationRunsWriteTheDescriptorAndNothingElse) {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dir.path() + "/data");
    env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString descriptor = dir.path() + "/data/ORVEX/PLUGINS/OvHorizel2.02.01.ovplugin";
    for (const char* sw : {"--Register", "/Register"}) {
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(OVH_PROGRAM_PATH, {sw});
        ASSERT_TRUE(run.waitForFinished(30000)) << sw;
        EXPECT_TRUE(QFile::exists(descriptor)) << sw;
        QFile file(descriptor);
        file.open(QIODevice::ReadOnly);
        EXPECT_TRUE(file.readAll().contains("files-count-min=\"2\""));
        QProcess unreg;
        unreg.setProcessEnvironment(env);
        unreg.start(OVH_PROGRAM_PATH, {QString(sw).replace("Register", "Unregister")});
        ASSERT_TRUE(unreg.waitForFinished(30000));
        EXPECT_FALSE(QFile::exists(descriptor)) << sw;
    }
    EXPECT_FALSE(QDir(dir.path() + "/config/ORVEX Horizel").exists()) << "no settings written";
}

TEST(OvHorizelApp, AKilledRunLeavesTheNextStartAFirstLaunch) {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString ini = dir.path() + "/ORVEX Horizel/OvHorizel.ini";
    QDir().mkpath(dir.path() + "/ORVEX Horizel");
    {
        QFile f(ini);
        f.open(QIODevice::WriteOnly);
        f.write("[GENERAL]\nNOTFIRSTLAUNCH=1\n");
    }
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(OVH_PROGRAM_PATH, {QString(OVH_SAMPLES_DIR) + "/boat-row/boat1.jpg"});
    ASSERT_TRUE(run.waitForStarted(10000));
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i) {
        QThread::msleep(50);
        QFile f(ini);
        f.open(QIODevice::ReadOnly);
        running = f.readAll().contains("NOTFIRSTLAUNCH=0");
    }
    EXPECT_TRUE(running) << "the running program marks the profile";
    run.kill();
    run.waitForFinished(10000);
    QFile f(ini);
    f.open(QIODevice::ReadOnly);
    EXPECT_TRUE(f.readAll().contains("NOTFIRSTLAUNCH=0"));
}

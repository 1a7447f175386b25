// main() for the widget suites: one QApplication for every test, offscreen
// unless the environment chose a platform. The user's folders (settings,
// caches, data, runtime) point into a scratch folder, so tests never read or
// write the real ones.
#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

// A suite whose libraries run worker threads on Qt's image code defines this to
// stop them while the application object still exists (Qt's thread pools go
// with it, and a worker caught inside them would never end).
void StopWorkersBeforeQtGoes() __attribute__((weak));

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (home.isValid()) {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
            qputenv(name, home.path().toLocal8Bit());
        QFile::setPermissions(home.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (StopWorkersBeforeQtGoes)
        StopWorkersBeforeQtGoes();
    return result;
}

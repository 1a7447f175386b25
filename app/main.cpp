// OvHorizel's entry point: the application object beside QApplication, the
// Tab focus ring, then the start-up sequence and the message loop.
#include <QApplication>
#include <string>
#include <vector>

#include "EngineServices.h"
#include "HttpClient.h"
#include "OvHorizelApp.h"
#include "TabstopNavigator.h"

int main(int argc, char** argv) {
    // Before any thread starts: libcurl's one-time set-up is not thread-safe.
    Http::GlobalInit();
    TuneHeapForEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ORVEX Horizel"));
    QApplication::setOrganizationName(QStringLiteral("ORVEX"));

    std::vector<std::string> args;
    for (const QString& a : QApplication::arguments().mid(1))
        args.push_back(a.toStdString());

    CTabstopNavigator::Create();
    int code = 0;
    {
        COvHorizelApp theApp;
        if (theApp.InitInstance(QApplication::applicationFilePath().toStdString(), args))
            code = app.exec();
        const int exitCode = theApp.ExitInstance();
        if (code == 0)
            code = exitCode;
    }
    CTabstopNavigator::Destroy();
    return code;
}

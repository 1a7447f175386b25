// How long the user-interface thread's event handling pauses while the
// document builds the 12-photo ring and renders it at full size, and how soon
// Cancel ends a build. A 5 ms timer on the user-interface thread notes the
// longest gap between its ticks. Prints the figures; skips without the photos.
//   workflow_event_bench [photo folder]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "CDlgPrompts.h"
#include "COvHorizelDoc.h"
#include "FrameEngineCallbacks.h"

namespace {

struct Probe {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer timer;
    Probe() {
        clock.start();
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
    }
    void Start() {
        longest = 0;
        last = clock.elapsed();
        timer.start();
    }
    qint64 Stop() {
        timer.stop();
        return longest;
    }
};

// Runs the event loop until the document's jobs are idle; the elapsed ms.
qint64 WaitIdle(COvHorizelDoc& doc) {
    QElapsedTimer t;
    t.start();
    while (!doc.Jobs().IsIdle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return t.elapsed();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QStringLiteral(OVH_SHARED_DATA "/photos/apartment-ring");
    std::vector<std::string> photos;
    for (const QString& name : QDir(folder).entryList({"*.jpg"}, QDir::Files, QDir::Name))
        photos.push_back(QDir(folder).filePath(name).toStdString());
    if (photos.size() < 2) {
        std::printf("skipped: no photos in %s\n", folder.toLocal8Bit().constData());
        return 0;
    }
    QMainWindow frame;
    frame.resize(900, 700);
    frame.show();
    CFrameEngineCallbacks callbacks(&frame);
    COvHorizelDoc doc;
    callbacks.SetDocument(&doc);
    doc.CreateEngines(&callbacks, &callbacks);
    doc.Jobs().SetThreaded(true);
    // The prompts a build may end with are answered Yes.
    QTimer answerer;
    answerer.setInterval(20);
    QObject::connect(&answerer, &QTimer::timeout, [] {
        if (auto* prompt = qobject_cast<CDlgPromptBase*>(QApplication::activeModalWidget()))
            if (auto* yes = prompt->findChild<QPushButton*>("6"))
                yes->click();
    });
    answerer.start();

    Probe probe;
    doc.AddFiles(photos);
    probe.Start();
    doc.SetCurrentTask(2);
    const qint64 loadMs = WaitIdle(doc);
    const qint64 loadGap = probe.Stop();

    probe.Start();
    doc.StartStitching();
    const qint64 buildMs = WaitIdle(doc);
    const qint64 buildGap = probe.Stop();
    const bool built = doc.GetPlanarEngine()->IsBuilt();

    probe.Start();
    doc.Render();
    const qint64 renderMs = WaitIdle(doc);
    const qint64 renderGap = probe.Stop();
    const bool rendered = doc.IsFullResultCurrent();

    // Cancel 300 ms into a build from scratch.
    doc.GetPlanarEngine()->Reset(true, true);
    doc.StartStitching();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const bool runningAtCancel = doc.Jobs().IsRunning();
    callbacks.ProgressWindow()->reject();
    const qint64 cancelMs = WaitIdle(doc);

    std::printf("photos %zu\n", photos.size());
    std::printf("load    %6lld ms, longest event-loop pause %4lld ms\n", static_cast<long long>(loadMs),
                static_cast<long long>(loadGap));
    std::printf("build   %6lld ms, longest event-loop pause %4lld ms, built %d\n", static_cast<long long>(buildMs),
                static_cast<long long>(buildGap), built ? 1 : 0);
    std::printf("render  %6lld ms, longest event-loop pause %4lld ms, rendered %d\n",
                static_cast<long long>(renderMs), static_cast<long long>(renderGap), rendered ? 1 : 0);
    std::printf("cancel  %6lld ms from Cancel to the job's end (running at cancel %d)\n",
                static_cast<long long>(cancelMs), runningAtCancel ? 1 : 0);
    callbacks.Abandon();
    return 0;
}

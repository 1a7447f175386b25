#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "CDlgPrompts.h"
#include "DocTestSupport.h"
#include "FrameEngineCallbacks.h"
#include "Screenshot.h"
#include "Workflow.h"

using namespace TestDoubles;

namespace {

// Runs fn once the event loop is back (inside the next exec).
void Later(std::function<void()> fn) {
    QTimer::singleShot(0, qApp, std::move(fn));
}

// fn on a worker thread, as the document's runs call the callbacks; the
// event loop runs meanwhile and once more after it, for its last queued calls.
void RunOffThread(const std::function<void()>& fn) {
    std::atomic<bool> done = false;
    std::thread worker([&] {
        fn();
        done = true;
    });
    while (!done)
        QTest::qWait(1);
    worker.join();
    QTest::qWait(5);
}

QPushButton* ModalButton(const char* id) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal ? modal->findChild<QPushButton*>(id) : nullptr;
}

struct Frame {
    Frame() {
        window.resize(900, 700);
        window.show();
    }
    QMainWindow window;
    CFrameEngineCallbacks callbacks{&window};
};

}  // namespace

TEST(FrameEngineCallbacks, StageTexts) {
    struct Case {
        int stage;
        std::wstring name;
        std::string text;
    };
    const Case cases[] = {
        {11, L"", "Analyzing..."},
        {12, L"", "Analyzing..."},
        {12, L"boat1.jpg", "Analyzing: boat1.jpg..."},
        {12, L"100%.jpg", "Analyzing: 100%.jpg..."},
        {13, L"", "Matching..."},
        {14, L"x", "Stitching..."},
        {15, L"", "Rendering..."},
        {99, L"", ""},
        {10, L"name", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CFrameEngineCallbacks::StageText(c.stage, c.name), c.text) << c.stage;
}

TEST(FrameEngineCallbacks, AnEngineRunShowsStagesAndCancelEndsIt) {
    Frame frame;
    CFrameEngineCallbacks& cb = frame.callbacks;
    CDlgProgressIndicator* window = cb.ProgressWindow();
    std::vector<std::string> texts;
    std::atomic<bool> cancelSeen = false;
    std::atomic<int> cancelStage = 0, cancelStep = 0;
    int clickStep = -1;
    bool modalSeen = false;

    // A recording engine on a worker: the stages of a build, cancelled by the
    // user during the second. Each stage waits until the window shows it.
    std::atomic<int> shownStages = 0;
    // The worker's step when the click returned: the bar lags behind it.
    std::atomic<int> workerStep = 0;
    int stepAtClick = -1;
    std::atomic<bool> clicked = false;
    const std::pair<int, std::wstring> stages[] = {{11, L""}, {12, L"boat1.jpg"}, {13, L""}, {14, L""}};
    QTimer watcher;
    watcher.setInterval(1);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!window->isVisible())
            return;
        modalSeen = modalSeen || window->windowModality() == Qt::ApplicationModal;
        const std::string text = window->TextControl()->text().toStdString();
        if (!text.empty() && (texts.empty() || texts.back() != text)) {
            texts.push_back(text);
            shownStages = static_cast<int>(texts.size());
        }
        if (text == "Analyzing: boat1.jpg..." && clickStep < 0 && window->Bar()->value() >= 20 &&
            window->Bar()->value() < 40) {
            clickStep = window->Bar()->value();
            SaveScreenshot(window, "progress-window-mid-build");
            QTest::mouseClick(window->CancelButton(), Qt::LeftButton);
            stepAtClick = workerStep.load();
            clicked = true;
        }
    });
    watcher.start();
    RunOffThread([&] {
        cb.Begin();
        int stageIndex = 0;
        for (const auto& [stage, name] : stages) {
            cb.SetStage(stage, name);
            ++stageIndex;
            while (shownStages < stageIndex)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (int step = 1; step <= 50 && !cancelSeen; ++step) {
                workerStep = step;
                cancelSeen = cb.SetProgress(50, step);
                cancelStage = stage;
                cancelStep = step;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                // A loaded machine may paint the bar late: the second stage
                // waits for the click before it leaves the clicked range.
                for (int waited = 0; stage == 12 && step == 39 && !clicked && waited < 10000; ++waited)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (cancelSeen)
                break;
        }
    });
    watcher.stop();
    EXPECT_TRUE(cancelSeen);
    EXPECT_TRUE(modalSeen);
    EXPECT_TRUE(window->CancelButton()->isVisible());
    EXPECT_EQ(window->windowTitle(), "ORVEX Horizel");
    const QPoint frameCentre = frame.window.mapToGlobal(frame.window.rect().center());
    EXPECT_LE((window->geometry().center() - frameCentre).manhattanLength(), 2);
    // A report soon after the click answered: the worker reads the flag itself.
    EXPECT_EQ(cancelStage, 12);
    EXPECT_GE(cancelStep, clickStep);
    EXPECT_LE(cancelStep - stepAtClick, 1);
    EXPECT_TRUE(window->isVisible());  // until the engine ends the run
    EXPECT_EQ(texts, (std::vector<std::string>{"Analyzing...", "Analyzing: boat1.jpg..."}));
    RunOffThread([&] { cb.End(); });
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->IsCancelled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(FrameEngineCallbacks, EscapeCancelsAndBeginExHidesCancel) {
    Frame frame;
    CFrameEngineCallbacks& cb = frame.callbacks;
    CDlgProgressIndicator* window = cb.ProgressWindow();
    RunOffThread([&] { cb.BeginEx(); });
    EXPECT_FALSE(window->CancelButton()->isVisible());
    RunOffThread([&] { cb.End(); });
    EXPECT_TRUE(window->CancelButton()->isVisibleTo(window));

    RunOffThread([&] { cb.Begin(); });
    ASSERT_TRUE(window->isVisible());
    QTest::keyClick(window, Qt::Key_Escape);
    bool cancelled = false;
    RunOffThread([&] { cancelled = cb.SetProgress(10, 1); });
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(window->isVisible());
    // Totals beyond 16 bits keep their range.
    RunOffThread([&] { cb.SetProgress(70000, 65536); });
    EXPECT_EQ(window->Bar()->maximum(), 70000);
    EXPECT_EQ(window->Bar()->value(), 65536);
    RunOffThread([&] { cb.End(); });
}

TEST(FrameEngineCallbacks, APromptOpenedDuringABuildTakesInput) {
    Frame frame;
    CFrameEngineCallbacks& cb = frame.callbacks;
    cb.Begin();
    cb.SetProgress(10, 3);
    QString text;
    Later([&text] {
        auto* label = QApplication::activeModalWidget()->findChild<QLabel*>("1004");
        text = label->text();
        SaveScreenshot(QApplication::activeModalWidget(), "prompt-accept-panorama");
        QTest::mouseClick(ModalButton("7"), Qt::LeftButton);
    });
    EXPECT_FALSE(cb.AskAcceptPanorama(2, 5));  // "&Switch to manual mode"
    EXPECT_EQ(
        text.toStdString(),
        "2 photos from 5 could not be automatically matched.\nClick Switch to Manual Mode to reassemble "
        "panorama manually\nor click Ignore to accept partially assembled panorama.");
    Later([] {
        SaveScreenshot(QApplication::activeModalWidget(), "prompt-warning-cyclorama");
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
    });
    EXPECT_TRUE(cb.WarnCyclorama());  // Escape accepts
    Later([] { QTest::mouseClick(ModalButton("6"), Qt::LeftButton); });
    EXPECT_TRUE(cb.AskAcceptPanorama(1, 3));
    EXPECT_FALSE(cb.SetProgress(10, 4));
    cb.End();
}

TEST(FrameEngineCallbacks, QuittingDuringARunWaitsForItsEnd) {
    Frame frame;
    CFrameEngineCallbacks& cb = frame.callbacks;
    int quits = 0;
    cb.ProgressWindow()->onDeferredQuit = [&quits] { ++quits; };
    RunOffThread([&] { cb.Begin(); });
    QEvent quit(QEvent::Quit);  // what QCoreApplication::quit sends
    QCoreApplication::sendEvent(qApp, &quit);
    bool cancelled = true;
    RunOffThread([&] { cancelled = cb.SetProgress(10, 1); });
    EXPECT_FALSE(cancelled);  // the run goes on
    EXPECT_TRUE(cb.ProgressWindow()->IsQuitDeferred());
    EXPECT_TRUE(frame.window.isVisible());
    RunOffThread([&] { cb.SetProgress(10, 2); });
    EXPECT_EQ(quits, 0);
    RunOffThread([&] { cb.End(); });
    QTest::qWait(5);
    EXPECT_EQ(quits, 1);
    // A run without a quit request leaves the application alone.
    RunOffThread([&] {
        cb.Begin();
        cb.End();
    });
    QTest::qWait(5);
    EXPECT_EQ(quits, 1);
}

TEST(FrameEngineCallbacks, AWorkerWaitsForThePromptsAnswerAndNeverTouchesAWindow) {
    struct Marker : IPhotoMarker {
        void MarkPhotos(const std::vector<std::string>&, bool) override {
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
            ++calls;
        }
        bool onUiThread = true;
        int calls = 0;
    } marker;
    Frame frame;
    CFrameEngineCallbacks& cb = frame.callbacks;
    cb.SetPhotoMarker(&marker);
    bool viewOnUiThread = false;
    cb.onToggleView = [&](bool) { viewOnUiThread = QThread::currentThread() == qApp->thread(); };
    bool answer = true;
    QTimer answerer;
    answerer.setInterval(2);
    QObject::connect(&answerer, &QTimer::timeout, [] {
        if (QPushButton* button = ModalButton("7"))
            QTest::mouseClick(button, Qt::LeftButton);
    });
    answerer.start();
    RunOffThread([&] {
        cb.MarkFiles({L"/p/a.jpg"}, true);
        cb.ToggleView(true);
        cb.RepaintNow();
        answer = cb.AskAcceptPanorama(1, 3);
    });
    EXPECT_FALSE(answer) << "the worker took the prompt's answer";
    EXPECT_EQ(marker.calls, 1);
    EXPECT_TRUE(marker.onUiThread);
    EXPECT_TRUE(viewOnUiThread);

    // Once the windows go, a question gets the closed prompt's answer at once.
    answerer.stop();
    cb.Abandon();
    bool cyclorama = true, cancelled = false;
    std::thread worker([&] {
        cyclorama = cb.WarnCyclorama();
        cancelled = cb.SetProgress(10, 1);
    });
    worker.join();
    EXPECT_FALSE(cyclorama);
    EXPECT_TRUE(cancelled);
    QTest::qWait(5);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr)
        << "no prompt opens for a worker that stopped asking";
}

TEST(FrameEngineCallbacks, AWorkersRepaintRequestsCollapseIntoOnePaint) {
    // The matching asks once per pair and fit: hundreds of paints queued one
    // by one held the window long after the work.
    Frame frame;
    QTest::qWait(5);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    frame.window.installEventFilter(&counter);
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i)
            frame.callbacks.RepaintNow();
    });
    worker.join();
    QTest::qWait(20);
    frame.window.removeEventFilter(&counter);
    EXPECT_GE(counter.paints, 1) << "the window was asked to paint";
    EXPECT_LE(counter.paints, 2);
}

TEST(FrameEngineCallbacks, PostedViewUpdatesCollapseIntoOneWithTheFirstValues) {
    DocEnvironment env;
    Frame frame;
    DocRig rig;
    frame.callbacks.SetDocument(rig.doc.get());
    std::thread renderThread([&] {
        for (int i = 0; i < 10; ++i)
            frame.callbacks.PostUpdateView(3 + i, 0);
    });
    renderThread.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.tiled->log.Count("TakeRenderResult"), 1);
    EXPECT_EQ(rig.tiled->log.Count("TakeRenderResult 3 0"), 1);

    // (1, 1): the crop rectangle changed; it goes to the view.
    QSignalSpy shown(&rig.doc->Workflow(), &CWorkflow::resultChanged);
    frame.callbacks.PostUpdateView(1, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.count(), 1);
}

TEST(FrameEngineCallbacks, MarkingGoesToTheStripAndMatchingToTheDocument) {
    struct Marker : IPhotoMarker {
        void MarkPhotos(const std::vector<std::string>& paths, bool mark) override {
            calls.push_back((mark ? "mark " : "unmark ") + std::to_string(paths.size()) + " " +
                            paths.front());
        }
        std::vector<std::string> calls;
    } marker;
    DocEnvironment env;
    Frame frame;
    DocRig rig;
    frame.callbacks.SetPhotoMarker(&marker);
    frame.callbacks.SetDocument(rig.doc.get());
    frame.callbacks.AddFile(L"/p/a.jpg", true);
    frame.callbacks.MarkFiles({L"/p/a.jpg", L"/p/b.jpg"}, false);
    EXPECT_EQ(marker.calls, (std::vector<std::string>{"mark 1 /p/a.jpg", "unmark 2 /p/a.jpg"}));
    EXPECT_EQ(frame.callbacks.MatchManually(nullptr, nullptr, nullptr), 1);
    auto* first = CreatePanoElement(0);
    auto* second = CreatePanoElement(0);
    // The matching dialog's stand-in cancels.
    EXPECT_EQ(frame.callbacks.MatchManually(first, second, nullptr), 1);
    EXPECT_EQ(rig.host.matchingDialogs, 1);
    first->Release();
    second->Release();
}

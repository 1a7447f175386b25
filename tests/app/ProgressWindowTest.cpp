#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <thread>

#include "CDlgPrompts.h"
#include "DocTestSupport.h"
#include "FrameEngineCallbacks.h"
#include "Screenshot.h"

using namespace TestDoubles;

namespace {

// Runs fn once the event loop is back (inside the next SetProgress or exec).
void Later(std::function<void()> fn) {
    QTimer::singleShot(0, qApp, std::move(fn));
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
    bool cancelSeen = false;
    int cancelStage = 0, cancelStep = 0;

    // A recording engine: the stages of a build, cancelled by the user at step 40.
    cb.Begin();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->CancelButton()->isVisible());
    EXPECT_EQ(window->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(window->windowTitle(), "ORVEX Horizel");
    const QPoint frameCentre = frame.window.mapToGlobal(frame.window.rect().center());
    EXPECT_LE((window->geometry().center() - frameCentre).manhattanLength(), 2);
    const std::pair<int, std::wstring> stages[] = {{11, L""}, {12, L"boat1.jpg"}, {13, L""}, {14, L""}};
    for (const auto& [stage, name] : stages) {
        cb.SetStage(stage, name);
        texts.push_back(window->TextControl()->text().toStdString());
        for (int step = 1; step <= 50 && !cancelSeen; ++step) {
            if (stage == 12 && step == 20) {
                SaveScreenshot(window, "progress-window-mid-build");
                Later([window] { QTest::mouseClick(window->CancelButton(), Qt::LeftButton); });
            }
            cancelSeen = cb.SetProgress(50, step);
            cancelStage = stage;
            cancelStep = step;
        }
        if (cancelSeen)
            break;
    }
    EXPECT_TRUE(cancelSeen);
    // The SetProgress that took the click answered at once.
    EXPECT_EQ(cancelStage, 12);
    EXPECT_EQ(cancelStep, 20);
    EXPECT_TRUE(window->isVisible());  // until the engine ends the run
    EXPECT_EQ(texts, (std::vector<std::string>{"Analyzing...", "Analyzing: boat1.jpg..."}));
    cb.End();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->IsCancelled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(FrameEngineCallbacks, EscapeCancelsAndBeginExHidesCancel) {
    Frame frame;
    CFrameEngineCallbacks& cb = frame.callbacks;
    CDlgProgressIndicator* window = cb.ProgressWindow();
    cb.BeginEx();
    EXPECT_FALSE(window->CancelButton()->isVisible());
    cb.End();
    EXPECT_TRUE(window->CancelButton()->isVisibleTo(window));

    cb.Begin();
    Later([window] { QTest::keyClick(window, Qt::Key_Escape); });
    EXPECT_TRUE(cb.SetProgress(10, 1));
    EXPECT_TRUE(window->isVisible());
    // Totals beyond 16 bits keep their range.
    cb.SetProgress(70000, 65536);
    EXPECT_EQ(window->Bar()->maximum(), 70000);
    EXPECT_EQ(window->Bar()->value(), 65536);
    cb.End();
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
    cb.Begin();
    Later([] {
        QEvent quit(QEvent::Quit);  // what QCoreApplication::quit sends
        QCoreApplication::sendEvent(qApp, &quit);
    });
    EXPECT_FALSE(cb.SetProgress(10, 1));  // the run goes on
    EXPECT_TRUE(cb.ProgressWindow()->IsQuitDeferred());
    EXPECT_TRUE(frame.window.isVisible());
    cb.SetProgress(10, 2);
    EXPECT_EQ(quits, 0);
    cb.End();
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 1);
    // A run without a quit request leaves the application alone.
    cb.Begin();
    cb.End();
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 1);
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
    frame.callbacks.PostUpdateView(1, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.ui.log.Count("ToggleView 1"), 1);
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

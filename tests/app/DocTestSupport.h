#pragma once
// A document in a scratch profile and data folder, with recording callbacks,
// a recording host and small photo files made on the spot.

#include <QColor>
#include <QImage>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "COvHorizelDoc.h"
#include "FakeEngines.h"
#include "Profile.h"
#include "ProjectFiles.h"
#include "RecordingCallbacks.h"
#include "TestData.h"

namespace TestDoubles {

class RecordingProgressEx : public IProgressIndicatorEx {
public:
    void Begin() override { log.Add("Begin"); }
    void BeginEx() override { log.Add("BeginEx"); }
    void End() override { log.Add("End"); }
    void SetStage(int stageId, const std::wstring&) override {
        log.Add("SetStage " + std::to_string(stageId));
    }
    void SetStage(int stageId) override { log.Add("SetStage " + std::to_string(stageId)); }
    bool SetProgress(int total, int position) override {
        log.Add("SetProgress " + std::to_string(total) + " " + std::to_string(position));
        return cancel;
    }
    void Show(bool hide) override { log.Add(hide ? "Show hide" : "Show show"); }
    void SetText(const char* text) override { log.Add(std::string("SetText ") + text); }
    CallLog log;
    // The answer to SetProgress: the user pressed Cancel.
    bool cancel = false;
};

class RecordingHost : public IDocumentHost {
public:
    void MessageBox(const std::string& text) override { messages.push_back(text); }
    int AskAboutToChange(const std::string& text) override {
        asked.push_back(text);
        return answer;
    }
    void BeginWaitCursor() override { ++waitDepth; }
    void EndWaitCursor() override { --waitDepth; }
    void RestoreWaitCursor() override {}
    int RunMatchingDialog(PanoramaLib::IPanoElement*, PanoramaLib::IPanoElement*,
                          PanoramaLib::IManualMatcher*) override {
        ++matchingDialogs;
        return DocResult::kCancel;
    }
    std::vector<std::string> messages;
    std::vector<std::string> asked;
    int answer = DocResult::kYes;
    int waitDepth = 0;
    int matchingDialogs = 0;
};

class RecordingView : public IDocView {
public:
    RecordingView(CallLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    void OnUpdate(IDocView*, int hint, void*) override { log_.Add(name_ + " " + std::to_string(hint)); }

private:
    CallLog& log_;
    std::string name_;
};

// Profile, data folder and readable list of one test; restored afterwards.
class DocEnvironment {
public:
    DocEnvironment() {
        AppProfile::SetPath(scratch / "profile.ini");
        if (const char* data = std::getenv("XDG_DATA_HOME"))
            savedData = data;
        std::filesystem::create_directories(scratch.path() / "data");
        setenv("XDG_DATA_HOME", (scratch.path() / "data").c_str(), 1);
        ProjectFiles::SetReadableExtensions(ProjectFiles::kDefaultReadableExtensions);
    }
    ~DocEnvironment() {
        // Back to the test program's scratch data folder, never the user's.
        if (savedData)
            setenv("XDG_DATA_HOME", savedData->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
        ProjectFiles::SetReadableExtensions(ProjectFiles::kDefaultReadableExtensions);
    }
    // A small photo; the format follows the extension.
    std::string Photo(const std::string& name, int w = 64, int h = 48, QColor color = Qt::darkCyan) const {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(color);
        const std::string path = scratch / name;
        const std::string ext = ProjectFiles::LowerExtension(name);
        const char* format = ext == ".png" ? "PNG" : ext == ".bmp" ? "BMP" : "JPG";
        image.save(QString::fromStdString(path), format);
        return path;
    }

    TestData::ScratchDir scratch;
    std::optional<std::string> savedData;
};

// A document with recording engines, callbacks and host attached.
struct DocRig {
    DocRig() {
        doc = std::make_unique<COvHorizelDoc>();
        planar = new FakePlanarEngine;
        tiled = new FakeTiledEngine;
        doc->AttachEngines(planar, tiled);
        doc->SetHost(&host);
        doc->CreateEngines(&ui, &progress);
        doc->AddView(&view);
    }
    // Photos loaded and a shown result in the planar engine.
    void Stitched(const std::vector<std::string>& paths) {
        doc->AddFiles(paths);
        doc->SetCurrentTask(2);
        doc->StartStitching();
    }

    CallLog viewLog;
    RecordingView view{viewLog, "view"};
    RecordingHost host;
    RecordingUserInterface ui;
    RecordingProgressEx progress;
    std::unique_ptr<COvHorizelDoc> doc;
    FakePlanarEngine* planar;
    FakeTiledEngine* tiled;
};

}  // namespace TestDoubles

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AspectData.h"
#include "CropGeometry.h"
#include "DocTestSupport.h"
#include "FakeUploadHost.h"
#include "LoopbackHttpServer.h"
#include "TestData.h"
#include "WaitForJobs.h"
#include "Workflow.h"

namespace {

using OrvexBase::Rect;
using namespace TestDoubles;

// Renders a full result of a set size and records the crops asked of it.
class RenderingPlanar : public FakePlanarEngine {
public:
    bool Render() override {
        while (hold)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        renderCropFlags.push_back(options.autoCrop);
        full->Destroy();
        full->Create(24, fullWidth, fullHeight);
        if (full->GetBits())
            for (int y = 0; y < fullHeight; ++y)
                for (int x = 0; x < fullWidth * 3; ++x)
                    full->GetBits()[static_cast<std::size_t>(y) * full->GetStride() + x] =
                        static_cast<std::uint8_t>((x + 3 * y) & 0xff);
        return renderResult;
    }
    bool CropResult(const Rect* r) override {
        crops.push_back(*r);
        return true;
    }
    int fullWidth = 4000;
    int fullHeight = 2000;
    bool renderResult = true;
    // Holds a render on the worker thread until the test lets it go.
    std::atomic<bool> hold{false};
    std::vector<int> renderCropFlags;
    std::vector<Rect> crops;
};

class FakeCropView : public ICropRect {
public:
    void BeginCrop(const Rect*, bool) override {}
    void EndCrop(Rect* out, bool) override {
        ++ended;
        *out = rect;
    }
    void SetCropRect(const Rect* r) override { rect = *r; }
    void GetCropRect(Rect* out) override { *out = rect; }
    void SetKeepAspect(bool) override {}
    void GetPatchRect(Rect* out) override { *out = rect; }
    Rect rect;
    int ended = 0;
};

class FakeSaveHost : public IResultSaveHost {
public:
    bool PromptSaveFileName(std::string& name) override {
        ++prompts;
        if (answer.empty())
            return false;
        name = answer;
        return true;
    }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return yes;
    }
    void* OwnerWindow() override { return owner; }
    std::string ApplicationTitle() override { return "OvHorizel"; }
    int prompts = 0;
    std::string answer;
    std::vector<std::string> questions;
    bool yes = false;
    void* owner = nullptr;
};

// Never cancels, unlike the recording indicator.
class QuietProgress : public RecordingProgressEx {
public:
    bool SetProgress(int, int) override { return cancelAt >= 0 && ++steps > cancelAt; }
    int cancelAt = -1;
    int steps = 0;
};

struct SaveRig {
    SaveRig() {
        doc = std::make_unique<COvHorizelDoc>();
        planar = new RenderingPlanar;
        doc->AttachEngines(planar, new FakeTiledEngine);
        doc->SetHost(&host);
        doc->SetSaveHost(&saveHost);
        doc->SetCropView(&cropView);
        doc->CreateEngines(&ui, &progress);
        doc->AddFiles({env.Photo("a.jpg"), env.Photo("b.jpg")});
        doc->SetCurrentTask(2);
        doc->StartStitching();
        planar->result->Destroy();
        planar->result->Create(24, 1000, 500);
        planar->cropRect = Rect(10, 10, 990, 490);
        cropView.rect = planar->cropRect;
    }
    DocEnvironment env;
    RecordingHost host;
    RecordingUserInterface ui;
    QuietProgress progress;
    FakeSaveHost saveHost;
    FakeCropView cropView;
    std::unique_ptr<COvHorizelDoc> doc;
    RenderingPlanar* planar;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Closes the message boxes the module opens and keeps their texts.
class MessageCatcher {
public:
    MessageCatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.push_back(box->text().toStdString());
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start(20);
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

}  // namespace

TEST(ResultRendering, CropChoiceDecidesWhoCropsAndHow) {
    struct Case {
        const char* name;
        int cropType;
        Rect userRect;  // empty: the engine's own rectangle
        int expectedCropFlag;
        std::vector<Rect> expectedCrops;
    };
    const Case cases[] = {
        {"no crop", 0, Rect(100, 50, 900, 450), 0, {}},
        {"manual, untouched", 1, Rect(), 1, {}},
        {"manual, drawn", 1, Rect(100, 50, 900, 450), 0, {Rect(400, 200, 3600, 1800)}},
        {"manual, beyond the result", 1, Rect(-10, 50, 1200, 450), 0, {Rect(0, 200, 4000, 1800)}},
    };
    for (const Case& c : cases) {
        SaveRig rig;
        rig.doc->ApplyExportChoice(c.cropType);
        if (!c.userRect.IsEmpty())
            rig.cropView.rect = c.userRect;
        ASSERT_TRUE(rig.doc->CanRenderFullResult()) << c.name;
        rig.doc->SetModifiedFlag(false);
        rig.cropView.ended = 0;
        rig.doc->Render();
        EXPECT_EQ(rig.planar->renderCropFlags, std::vector<int>{c.expectedCropFlag}) << c.name;
        EXPECT_EQ(rig.planar->crops, c.expectedCrops) << c.name;
        EXPECT_TRUE(rig.doc->IsFullResultCurrent()) << c.name;
        EXPECT_TRUE(rig.doc->IsModified()) << c.name;
        EXPECT_EQ(rig.cropView.ended, 1) << c.name;
    }
    // 64-bit scaling: no overflow on a wide panorama; no preview, no scaling.
    Rect scaled;
    ASSERT_TRUE(
        CropGeometry::ScaleCropRect(Rect(0, 0, 30000, 20000), 30000, Rect(0, 0, 120000, 80000), &scaled));
    EXPECT_EQ(scaled, Rect(0, 0, 120000, 80000));
    EXPECT_FALSE(CropGeometry::ScaleCropRect(Rect(0, 0, 10, 10), 0, Rect(0, 0, 100, 100), &scaled));
}

TEST(ResultRendering, PageDirectionAndFailedRender) {
    SaveRig rig;
    rig.planar->fullWidth = rig.planar->fullHeight = 300;
    rig.doc->Render();
    EXPECT_EQ(rig.doc->GetPageDirection(), 0);  // square is not wider
    // So it prints as stacked pages: the second page starts lower down the picture.
    PrintLayout layout;
    layout.pages = 2;
    const PrinterCaps caps{1000, 800, 1000, 800, 100, 100, 24, 1};
    PanoramaLib::IPanoElement* picture = nullptr;
    const PrintMath::PrintPagePlan second = rig.doc->PrintPage(caps, 2, 2, &layout, &picture);
    ASSERT_TRUE(second.draw);
    EXPECT_EQ(picture, rig.planar->GetFullResult());
    EXPECT_EQ(second.source.left, 0);
    EXPECT_GT(second.source.top, 0);
    EXPECT_EQ(rig.doc->IsResultWide(), 0);
    SaveRig failing;
    failing.planar->renderResult = false;
    failing.doc->SetModifiedFlag(false);
    failing.cropView.ended = 0;
    QSignalSpy shown(&failing.doc->Workflow(), &CWorkflow::resultChanged);
    failing.doc->Render();
    EXPECT_FALSE(failing.doc->IsModified());
    EXPECT_EQ(failing.cropView.ended, 0);
    EXPECT_GE(shown.count(), 1);
}

TEST(ResultSaving, EnablingExportAskingAndSavingAgain) {
    SaveRig rig;
    rig.planar->fullWidth = 64;
    rig.planar->fullHeight = 32;
    EXPECT_FALSE(rig.doc->OnUpdateFileSave());
    EXPECT_FALSE(rig.doc->OnUpdateFileExport());
    rig.doc->Render();
    EXPECT_TRUE(rig.doc->OnUpdateFileSave());
    EXPECT_TRUE(rig.doc->OnUpdateFileExport());

    // Cancelling the name writes nothing.
    rig.doc->OnFileExport();
    EXPECT_EQ(rig.saveHost.prompts, 1);
    EXPECT_TRUE(rig.doc->IsModified());

    const std::string path = rig.env.scratch / "a.jpg";
    rig.saveHost.answer = path;
    rig.doc->OnFileExport();
    EXPECT_EQ(rig.saveHost.prompts, 2);
    EXPECT_EQ(rig.doc->GetPathName(), path);
    EXPECT_FALSE(rig.doc->IsModified());
    EXPECT_FALSE(rig.doc->OnUpdateFileSave());
    EXPECT_TRUE(rig.doc->OnUpdateFileExport());
    EXPECT_EQ(rig.progress.log.Count("SetText Writing file..."), 1);

    // Save writes the same file again without asking.
    std::filesystem::remove(path);
    rig.doc->SetModifiedFlag(true);
    rig.doc->OnFileSave();
    EXPECT_EQ(rig.saveHost.prompts, 2);
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(ResultSaving, AWriteAskedForDuringARenderWritesTheResultThatRenderMakes) {
    SaveRig rig;
    rig.planar->fullWidth = 64;
    rig.planar->fullHeight = 32;
    rig.doc->Render();
    rig.doc->Jobs().SetThreaded(true);
    rig.planar->fullWidth = 48;
    rig.planar->hold = true;
    rig.doc->Render();
    ASSERT_TRUE(rig.doc->Jobs().IsRunning());
    const std::string path = rig.env.scratch / "during.png";
    EXPECT_EQ(rig.doc->WriteResultFile(path.c_str()), 1) << "queued behind the render";
    rig.planar->hold = false;
    ASSERT_TRUE(WaitForJobs(*rig.doc));
    const QImage written(QString::fromStdString(path));
    EXPECT_EQ(written.size(), QSize(48, 32));

    // A render that leaves no result: the write waiting behind it says so
    // and keeps the file written before.
    rig.doc->SetModifiedFlag(true);
    const std::size_t told = rig.host.messages.size();
    rig.planar->fullWidth = 0;
    rig.planar->hold = true;
    rig.doc->Render();
    EXPECT_EQ(rig.doc->WriteResultFile(path.c_str()), 1);
    rig.planar->hold = false;
    ASSERT_TRUE(WaitForJobs(*rig.doc));
    ASSERT_EQ(rig.host.messages.size(), told + 1);
    EXPECT_EQ(rig.host.messages.back().rfind("The panorama was not saved to " + path + ":", 0), 0u);
    EXPECT_EQ(QImage(QString::fromStdString(path)).size(), QSize(48, 32));
    EXPECT_TRUE(rig.doc->IsModified());
}

TEST(ResultSaving, QuitPromptOnlyWithAnUnsavedResult) {
    SaveRig rig;
    rig.doc->SetModifiedFlag(false);
    EXPECT_TRUE(rig.doc->SaveModified());
    EXPECT_TRUE(rig.saveHost.questions.empty());
    rig.doc->SetModifiedFlag(true);
    EXPECT_FALSE(rig.doc->SaveModified());
    rig.saveHost.yes = true;
    EXPECT_TRUE(rig.doc->SaveModified());
    EXPECT_EQ(rig.saveHost.questions.back(), "Do you really want to exit OvHorizel?");
}

// Cancel, a read-only folder and a full disk leave the existing target as
// it was and no temporary file; the module's message shows except on Cancel.
TEST(ResultSaving, FailedWritesKeepTheTargetTheFlagAndThePath) {
    enum class Failure { Cancel, ReadOnly, DiskFull };
    for (Failure failure : {Failure::Cancel, Failure::ReadOnly, Failure::DiskFull}) {
        SCOPED_TRACE(static_cast<int>(failure));
        SaveRig rig;
        rig.planar->fullWidth = 400;
        rig.planar->fullHeight = 300;
        rig.doc->Render();
        const std::string folder = rig.env.scratch / "target";
        std::filesystem::create_directory(folder);
        bool mounted = false;
        if (failure != Failure::Cancel) {
            if (geteuid() == 0) {
                mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
                if (!mounted)
                    GTEST_SKIP() << "no tmpfs can be mounted here";
            } else if (failure == Failure::DiskFull) {
                GTEST_SKIP() << "a full disk needs a small tmpfs (root)";
            }
        }
        const std::string target = folder + "/pano.bmp";
        const std::string original = "the picture saved before";
        std::ofstream(target, std::ios::binary) << original;
        if (failure == Failure::ReadOnly) {
            if (mounted)
                ASSERT_EQ(mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
            else
                chmod(folder.c_str(), 0555);
        }
        if (failure == Failure::Cancel)
            rig.progress.cancelAt = 20;
        QWidget owner;
        rig.saveHost.owner = &owner;
        rig.saveHost.answer = target;
        rig.doc->SetPathName("/earlier/pano.jpg");
        MessageCatcher catcher;
        EXPECT_FALSE(rig.doc->DoSave(nullptr, true));
        EXPECT_EQ(ReadAll(target), original);
        EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"pano.bmp"});
        EXPECT_TRUE(rig.doc->IsModified());
        EXPECT_EQ(rig.doc->GetPathName(), "/earlier/pano.jpg");
        // The module's own box, once it has a window host; never on Cancel.
        if (failure == Failure::Cancel)
            EXPECT_TRUE(catcher.texts.empty());
        else
            EXPECT_LE(catcher.texts.size(), 1u);
        if (mounted)
            umount(folder.c_str());
        else
            chmod(folder.c_str(), 0755);
    }
}

TEST(ResultSending, SendToWebUploadsTheResultAndKeepsItPendingWhenRefused) {
    SaveRig rig;
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    setenv("no_proxy", "127.0.0.1", 1);
    unsetenv("OVHORIZEL_ONLINE_SERVER");
    Loopback::Server server;
    const std::string savedUrl = g_strNetPrintLoginUrl;
    g_strNetPrintLoginUrl = server.Origin() + "/session";
    server.On("/session", Loopback::Response::Text("error=0sessionid=S1uploadurl=" + server.Origin() +
                                                    "/upload" + "token=T"));
    server.On("/upload", Loopback::Response::Text("error=1"));
    const std::string pending = GetNetPrintLogsFolder() + "/Panorama1.jpg";

    rig.doc->Render();
    TestDoubles::FakeHost refusing;
    rig.doc->SetUploadHost(&refusing);
    ASSERT_TRUE(rig.doc->IsFullResultCurrent());
    rig.doc->SendToWeb();
    // Refused: the panorama waits for the next start; the result stays unsaved.
    EXPECT_TRUE(std::filesystem::exists(pending));
    EXPECT_TRUE(rig.doc->IsModified());
    ASSERT_EQ(server.Count("/upload"), 1);
    const std::string body = server.Requests().back().body;
    EXPECT_NE(body.find("filename=\"Panorama1.jpg\"\r\nContent-Type: image/pjpeg"), std::string::npos);
    EXPECT_NE(body.find("\r\n\r\n\xff\xd8\xff"), std::string::npos);  // a JPEG file

    server.On("/upload", Loopback::Response::Text("error=0clickurl=http://print.example/order"));
    TestDoubles::FakeHost accepting;
    rig.doc->SetUploadHost(&accepting);
    rig.doc->SendToWeb();
    // The next free name is used, and each accepted file leaves the folder.
    EXPECT_NE(server.Requests().back().body.find("filename=\"Panorama2.jpg\""), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(pending));
    EXPECT_FALSE(std::filesystem::exists(GetNetPrintLogsFolder() + "/Panorama2.jpg"));
    EXPECT_EQ(accepting.urls, (std::vector<std::string>{"http://print.example/order&token=T"}));
    rig.doc->SetUploadHost(nullptr);
    g_strNetPrintLoginUrl = savedUrl;
}

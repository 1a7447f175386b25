// File operations as jobs on their own thread: questions on the
// user-interface thread, the progress window, cancel between files with
// nothing lost, and a window that goes on answering meanwhile.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BrowserFixture.h"
#include "BrowserHost.h"
#include "EventLoopWait.h"
#include "FileCopy.h"
#include "FileOperations.h"
#include "TestData.h"

namespace fs = std::filesystem;
using BrowserFixture::ReadText;
using BrowserFixture::WriteText;

namespace {

bool OnUiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Entries of a folder whose names start with a copy's temporary prefix.
int Temporaries(const std::string& folder) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        n += entry.path().filename().string().rfind(".ovh-copy-", 0) == 0;
    return n;
}

// Records the questions and the progress window's calls with the thread
// they came on; says yes to a replace, and cancels the job while asked.
class CancellingHost : public IBrowserHost {
public:
    bool ConfirmReplace(const std::string& target) override {
        calls.push_back((OnUiThread() ? "replace " : "replace off the UI thread ") +
                        fs::path(target).filename().string());
        if (job)
            job->Cancel();
        return true;
    }
    void ReportFileOperationError(const std::string& path, const std::string&) override {
        calls.push_back("error " + fs::path(path).filename().string());
    }
    void BeginFileOperation(unsigned operation) override {
        calls.push_back(OnUiThread() ? "begin " + std::to_string(operation) : "begin off the UI thread");
    }
    bool FileOperationProgressed(const FileOperationProgress& progress) override {
        filesTotal = std::max(filesTotal, progress.filesTotal);
        if (!OnUiThread())
            calls.push_back("progress off the UI thread");
        return false;
    }
    void EndFileOperation() override { calls.push_back(OnUiThread() ? "end" : "end off the UI thread"); }
    CFileOperationJob* job = nullptr;
    std::vector<std::string> calls;
    size_t filesTotal = 0;
};

}  // namespace

TEST(FileOperationJobs, ACancelStopsAfterTheFileInHandAndLosesNothing) {
    TestData::ScratchDir dir;
    BrowserFixture::TrashIn trash(dir / "xdg");
    CancellingHost host;
    SetBrowserHost(&host);
    SetFileOperationProgressDelay(0);
    fs::create_directories(dir / "src");
    fs::create_directories(dir / "dst");
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        WriteText(dir / (std::string("src/") + name), std::string("new ") + name);
    WriteText(dir / "dst/b.jpg", "old");

    auto job = std::make_shared<CFileOperationJob>(
        FO_COPY, std::vector<std::string>{dir / "src/a.jpg", dir / "src/b.jpg", dir / "src/c.jpg"},
        dir / "dst", 0u);
    host.job = job.get();
    bool ended = false;
    bool result = true;
    StartFileOperation(job, [&](bool ok) {
        ended = true;
        result = ok;
    });
    EXPECT_FALSE(ended) << "the job runs on after the call";
    ASSERT_TRUE(TestSupport::WaitForEvents([&] { return ended; }, 10000));
    SetFileOperationProgressDelay(300);
    SetBrowserHost(nullptr);

    EXPECT_FALSE(result) << "a cancelled operation is no success";
    // The window showed first; the question came on the user-interface
    // thread; no failure was reported for the cancel.
    EXPECT_EQ(host.calls, (std::vector<std::string>{"begin 2", "replace b.jpg", "end"}));
    EXPECT_EQ(host.filesTotal, 3u);
    // The file in hand was finished (the replaced one is in the trash), the
    // next never started, and every source is as it was.
    EXPECT_EQ(ReadText(dir / "dst/a.jpg"), "new a.jpg");
    EXPECT_EQ(ReadText(dir / "dst/b.jpg"), "new b.jpg");
    EXPECT_EQ(ReadText(dir / "xdg/Trash/files/b.jpg"), "old");
    EXPECT_FALSE(fs::exists(dir / "dst/c.jpg"));
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        EXPECT_EQ(ReadText(dir / (std::string("src/") + name)), std::string("new ") + name);
    EXPECT_EQ(Temporaries(dir / "dst"), 0);
}

TEST(FileOperationJobs, ACancelledFolderCopyLeavesNoPartOfItBehind) {
    TestData::ScratchDir dir;
    fs::create_directories(dir / "src/album/inner");
    fs::create_directories(dir / "dst");
    for (const char* name : {"album/1.jpg", "album/2.jpg", "album/inner/3.jpg"})
        WriteText(dir / (std::string("src/") + name), std::string(100000, 'x'));
    int written = 0;
    CopyObserver observer;
    observer.written = [&](uint64_t) { ++written; };
    observer.cancelled = [&] { return written > 0; };
    EXPECT_EQ(CopyNoReplace(dir / "src/album", dir / "dst/album", &observer), std::errc::operation_canceled);
    EXPECT_GT(written, 0);
    EXPECT_FALSE(fs::exists(dir / "dst/album"));
    EXPECT_EQ(Temporaries(dir / "dst"), 0);
    for (const char* name : {"album/1.jpg", "album/2.jpg", "album/inner/3.jpg"})
        EXPECT_EQ(fs::file_size(dir / (std::string("src/") + name)), 100000u) << name;
}

TEST(FileOperationJobs, TheWindowGoesOnAnsweringWhileACopyRuns) {
    TestData::ScratchDir dir;
    BrowserFixture::RecordingHost host;
    fs::create_directories(dir / "src");
    fs::create_directories(dir / "dst");
    std::vector<std::string> files;
    const std::string block(4 << 20, 'p');
    for (int i = 0; i < 16; ++i) {
        files.push_back(dir / ("src/" + std::to_string(i) + ".jpg"));
        WriteText(files.back(), block);
    }
    // A timer of the user-interface thread keeps firing during the copy.
    int ticks = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { ++ticks; });
    probe.start(1);
    EXPECT_TRUE(ShellFileOperation(FO_COPY, files, dir / "dst", false, true));
    const int during = ticks;
    probe.stop();
    EXPECT_GT(during, 0);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(fs::file_size(dir / ("dst/" + std::to_string(i) + ".jpg")), block.size()) << i;
    EXPECT_TRUE(host.Errors().empty());
}

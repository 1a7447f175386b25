// File operations: rename, copy, move and delete, their questions and
// failure reports, the trash, file sizes and clearing a folder.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QApplication>
#include <QMessageBox>

#include <functional>

#include "BrowserFixture.h"
#include "BrowserHost.h"
#include "FileOperations.h"
#include "FolderFiles.h"
#include "FreedesktopTrash.h"
#include "PopupCloser.h"
#include "Screenshot.h"
#include "TestData.h"

namespace fs = std::filesystem;
using BrowserFixture::ReadText;
using BrowserFixture::WriteText;

namespace {

// Answers the questions of file operations as told, and records them.
class ScriptedHost : public IBrowserHost {
public:
    bool ConfirmPermanentDelete(const std::vector<std::string>& paths) override {
        asked.push_back("delete " + std::to_string(paths.size()));
        return answer;
    }
    bool ConfirmReplace(const std::string& target) override {
        asked.push_back("replace " + fs::path(target).filename().string());
        return answer;
    }
    void ReportFileOperationError(const std::string& path, const std::string& reason) override {
        asked.push_back("error " + fs::path(path).filename().string());
        reasons.push_back(reason);
    }
    void ReportSkippedFiles(const std::vector<std::pair<std::string, std::string>>& skipped) override {
        for (const auto& [path, reason] : skipped) {
            asked.push_back("skipped " + fs::path(path).filename().string());
            reasons.push_back(reason);
        }
    }
    bool answer = false;
    std::vector<std::string> asked;
    std::vector<std::string> reasons;
};

// Installs a host for one test and sends the trash into the scratch folder.
class FileOps : public ::testing::Test {
protected:
    void SetUp() override { SetBrowserHost(&host); }
    void TearDown() override { SetBrowserHost(nullptr); }
    TestData::ScratchDir dir;
    ScriptedHost host;
    BrowserFixture::TrashIn trash{dir / "xdg"};
};

}  // namespace

TEST_F(FileOps, RenameKeepsTheExtensionAndNeverReplaces) {
    WriteText(dir / "a.jpg", "A");
    WriteText(dir / "b.jpg", "B");
    std::string name = "sunset.png";
    ASSERT_TRUE(ShellRenameFile(dir / "a.jpg", name));
    EXPECT_EQ(name, dir / "sunset.png.jpg");
    EXPECT_EQ(ReadText(name), "A");

    name = "b";
    EXPECT_FALSE(ShellRenameFile(dir / "sunset.png.jpg", name));
    EXPECT_EQ(ReadText(dir / "b.jpg"), "B");
    EXPECT_EQ(ReadText(dir / "sunset.png.jpg"), "A");

    // Names differing only in case are different names here.
    name = "B";
    EXPECT_TRUE(ShellRenameFile(dir / "b.jpg", name));
    EXPECT_TRUE(fs::exists(dir / "B.jpg"));
    name = "sub/x";
    EXPECT_FALSE(ShellRenameFile(dir / "B.jpg", name));
}

TEST(FileOperationFlags, FollowTheTwoFlagsAndShift) {
    struct Case {
        unsigned op;
        bool shift, a, b;
        unsigned flags;
    } cases[] = {
        {FO_DELETE, false, false, false, 0x448}, {FO_DELETE, true, false, false, 0x408},
        {FO_COPY, true, false, false, 0x448},    {FO_COPY, false, true, false, 0x440},
        {FO_COPY, false, false, true, 0x48},     {FO_MOVE, false, true, true, 0x40},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileOperationFlags(c.op, c.shift, c.a, c.b), c.flags) << c.op << c.shift << c.a << c.b;
}

TEST_F(FileOps, CopyAndMoveNeverOverwriteSilently) {
    fs::create_directories(dir / "src");
    fs::create_directories(dir / "dst");
    WriteText(dir / "src/a.jpg", "new");
    WriteText(dir / "dst/a.jpg", "old");

    // Renaming on collision: both stay.
    EXPECT_TRUE(RunFileOperation(FO_COPY, {dir / "src/a.jpg"}, dir / "dst", FOF_RENAMEONCOLLISION));
    EXPECT_EQ(ReadText(dir / "dst/a.jpg"), "old");
    EXPECT_EQ(ReadText(dir / "dst/a (2).jpg"), "new");
    EXPECT_TRUE(RunFileOperation(FO_COPY, {dir / "src/a.jpg"}, dir / "dst", FOF_RENAMEONCOLLISION));
    EXPECT_EQ(ReadText(dir / "dst/a (3).jpg"), "new");

    // Without renaming the user is asked; "no" leaves both files.
    host.answer = false;
    EXPECT_FALSE(RunFileOperation(FO_MOVE, {dir / "src/a.jpg"}, dir / "dst", FOF_NOERRORUI));
    EXPECT_EQ(host.asked, std::vector<std::string>{"replace a.jpg"});
    EXPECT_EQ(ReadText(dir / "src/a.jpg"), "new");
    EXPECT_EQ(ReadText(dir / "dst/a.jpg"), "old");

    // "yes": the old file goes to the trash, the new one takes its place.
    host.answer = true;
    EXPECT_TRUE(RunFileOperation(FO_MOVE, {dir / "src/a.jpg"}, dir / "dst", FOF_NOERRORUI));
    EXPECT_FALSE(fs::exists(dir / "src/a.jpg"));
    EXPECT_EQ(ReadText(dir / "dst/a.jpg"), "new");
    EXPECT_EQ(ReadText(dir / "xdg/Trash/files/a.jpg"), "old");

    // Missing sources are dropped; with none left the operation fails.
    EXPECT_FALSE(RunFileOperation(FO_COPY, {dir / "src/gone.jpg"}, dir / "dst", FOF_NOERRORUI));
}

TEST_F(FileOps, AFolderIsNeverCopiedOrMovedIntoItself) {
    fs::create_directories(dir / "outer/inner");
    WriteText(dir / "outer/a.jpg", "A");
    fs::create_directory_symlink(dir / "outer", dir / "link");
    for (const unsigned op : {FO_COPY, FO_MOVE})
        for (const std::string& target : {dir / "outer", dir / "outer/inner", dir / "link", dir / "link/inner",
                                          dir / "outer//inner", dir / "outer/../outer/inner/"}) {
            host.asked.clear();
            host.reasons.clear();
            EXPECT_FALSE(RunFileOperation(op, {dir / "outer"}, target, 0)) << op << target;
            // Refused at once, not after copying its own copy down to the
            // longest path the system takes.
            EXPECT_EQ(host.asked, std::vector<std::string>{"error outer"}) << op << target;
            EXPECT_EQ(host.reasons,
                      std::vector<std::string>{std::make_error_code(std::errc::invalid_argument).message()});
        }
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir / "outer"), {}), 2)
        << "inner and a.jpg only";
    EXPECT_EQ(ReadText(dir / "outer/a.jpg"), "A");
}

TEST_F(FileOps, SourcesGoneMeanwhileAreNamedWhenOthersRemain) {
    for (const unsigned op : {FO_COPY, FO_MOVE, FO_DELETE}) {
        SCOPED_TRACE(op);
        fs::remove_all(dir / "src");
        fs::remove_all(dir / "dst");
        fs::create_directories(dir / "src");
        fs::create_directories(dir / "dst");
        WriteText(dir / "src/a.jpg", "A");
        WriteText(dir / "src/b.jpg", "B");
        host.asked.clear();
        host.reasons.clear();
        EXPECT_TRUE(RunFileOperation(op, {dir / "src/a.jpg", dir / "src/gone.jpg", dir / "src/b.jpg",
                                          dir / "src/lost.jpg"},
                                     op == FO_DELETE ? "" : dir / "dst", FOF_ALLOWUNDO));
        EXPECT_EQ(host.asked, (std::vector<std::string>{"skipped gone.jpg", "skipped lost.jpg"}));
        const std::string reason = std::make_error_code(std::errc::no_such_file_or_directory).message();
        EXPECT_EQ(host.reasons, (std::vector<std::string>{reason, reason}));
        EXPECT_EQ(fs::exists(dir / "src/b.jpg"), op == FO_COPY);
        EXPECT_EQ(fs::exists(dir / "dst/b.jpg"), op != FO_DELETE);
    }
}

namespace {

// A small file system of its own at path while the object lives (a tmpfs:
// the test runs as root), or none when mounting is not allowed here.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string& path, const char* size) : m_path(path) {
        fs::create_directories(path);
        m_mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (m_mounted)
            ::umount2(m_path.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool Mounted() const { return m_mounted; }

private:
    std::string m_path;
    bool m_mounted = false;
};

// Writes past `bytes` fail with EFBIG in this process while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

}  // namespace

TEST_F(FileOps, AWriteThatRunsOutOfRoomSaysWhy) {
    // A copy that fills the room mid-file: the reason is the system's, not
    // "Input/output error".
    WriteText(dir / "big.jpg", std::string(200 * 1024, 'b'));
    fs::create_directories(dir / "files");
    {
        const FileSizeLimit limit(64 * 1024);
        host.reasons.clear();
        EXPECT_FALSE(RunFileOperation(FO_COPY, {dir / "big.jpg"}, dir / "files", 0));
    }
    EXPECT_EQ(host.reasons, std::vector<std::string>{std::make_error_code(std::errc::file_too_large).message()});
    EXPECT_TRUE(fs::is_empty(dir / "files")) << "no partial copy";

    const SmallFileSystem small(dir / "small", "64k");
    if (!small.Mounted())
        GTEST_SKIP() << "no small file system can be mounted here";
    host.reasons.clear();
    EXPECT_FALSE(RunFileOperation(FO_COPY, {dir / "big.jpg"}, dir / "small", 0));
    EXPECT_EQ(host.reasons,
              std::vector<std::string>{std::make_error_code(std::errc::no_space_on_device).message()});
    EXPECT_TRUE(fs::is_empty(dir / "small"));
    EXPECT_EQ(ReadText(dir / "big.jpg").size(), 200u * 1024);
}

TEST_F(FileOps, TrashThroughALinkIsAtTheTopOfTheFilesOwnMount) {
    const SmallFileSystem other(dir / "other", "1m");
    if (!other.Mounted())
        GTEST_SKIP() << "no second file system can be mounted here";
    fs::create_directories(dir / "other/sub");
    WriteText(dir / "other/sub/photo.jpg", "P");
    fs::create_directory_symlink(dir / "other/sub", dir / "link");
    ASSERT_EQ(MoveToTrash(dir / "link/photo.jpg"), 0);
    const std::string trash = dir / ("other/.Trash-" + std::to_string(::getuid()));
    EXPECT_EQ(ReadText(trash + "/files/photo.jpg"), "P");
    EXPECT_NE(ReadText(trash + "/info/photo.jpg.trashinfo").find("\nPath=sub/photo.jpg\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "other/sub/.Trash-" + std::to_string(::getuid())));
}

TEST_F(FileOps, CopiesOfKilledMovesGoBeforeTheNextCopyThere) {
    fs::create_directories(dir / "dst");
    const std::string dead = std::to_string(TestData::ExitedProcessId());
    fs::create_directories(dir / ("dst/.ovh-copy-" + dead + "-folder/inside"));
    WriteText(dir / ("dst/.ovh-copy-" + dead + "-big-photo.jpg"), "half");
    WriteText(dir / "dst/.ovh-copy-1-running.jpg", "init's own");  // a process that runs
    WriteText(dir / "dst/.ovh-copy-x.jpg", "no writer named");
    WriteText(dir / "a.jpg", "A");
    ASSERT_TRUE(RunFileOperation(FO_COPY, {dir / "a.jpg"}, dir / "dst", 0));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir / "dst"))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".ovh-copy-1-running.jpg", ".ovh-copy-x.jpg", "a.jpg"}));
}

TEST_F(FileOps, FailedOperationLeavesTheSourcesIntact) {
    // A destination that cannot take files: a plain file where a folder should be.
    WriteText(dir / "a.jpg", "A");
    WriteText(dir / "not-a-folder", "x");
    EXPECT_FALSE(RunFileOperation(FO_MOVE, {dir / "a.jpg"}, dir / "not-a-folder", 0));
    EXPECT_FALSE(RunFileOperation(FO_COPY, {dir / "a.jpg"}, dir / "not-a-folder", 0));
    EXPECT_EQ(ReadText(dir / "a.jpg"), "A");
    EXPECT_EQ(ReadText(dir / "not-a-folder"), "x");
    EXPECT_EQ(host.asked, (std::vector<std::string>{"error a.jpg", "error a.jpg"}));
    // Errors are silenced on request.
    EXPECT_FALSE(RunFileOperation(FO_COPY, {dir / "a.jpg"}, dir / "not-a-folder", FOF_NOERRORUI));
    EXPECT_EQ(host.asked.size(), 2u);
}

TEST_F(FileOps, FailuresAreReportedWithTheSystemsReasonAndLoseNothing) {
    // Each operation as the browser runs it (pastes, drops and deletes with
    // the browser's flags; renames as the editors do them).
    struct Case {
        const char* what;
        std::function<bool(const TestData::ScratchDir&)> run;
        std::string failed;  // the file named in the report
        std::errc reason;
        std::vector<std::pair<std::string, std::string>> after;  // file, content ("" = absent)
    };
    const Case cases[] = {
        {"copy into a read-only folder",
         [](auto& d) { return ShellFileOperation(FO_COPY, {d / "src/a.jpg"}, d / "locked", false, true); },
         "a.jpg",
         std::errc::permission_denied,
         {{"src/a.jpg", "A"}, {"locked/a.jpg", ""}}},
        {"move into a read-only folder",
         [](auto& d) { return ShellFileOperation(FO_MOVE, {d / "src/a.jpg"}, d / "locked", false, true); },
         "a.jpg",
         std::errc::permission_denied,
         {{"src/a.jpg", "A"}, {"locked/a.jpg", ""}}},
        {"move out of a read-only folder",
         [](auto& d) { return ShellFileOperation(FO_MOVE, {d / "locked/in.jpg"}, d / "src", false, true); },
         "in.jpg",
         std::errc::permission_denied,
         {{"locked/in.jpg", "I"}, {"src/in.jpg", ""}}},
        {"delete from a read-only folder",
         [](auto& d) { return ShellFileOperation(FO_DELETE, {d / "locked/in.jpg"}, "", false, true); },
         "in.jpg",
         std::errc::permission_denied,
         {{"locked/in.jpg", "I"}}},
        {"a source gone meanwhile",
         [](auto& d) { return ShellFileOperation(FO_COPY, {d / "src/gone.jpg"}, d / "dst", false, true); },
         "gone.jpg",
         std::errc::no_such_file_or_directory,
         {{"dst/gone.jpg", ""}}},
        {"rename onto an existing name",
         [](auto& d) {
             std::string name = "b";
             return ShellRenameFile(d / "src/a.jpg", name);
         },
         "a.jpg",
         std::errc::file_exists,
         {{"src/a.jpg", "A"}, {"src/b.jpg", "B"}}},
        {"rename of a file gone meanwhile",
         [](auto& d) {
             std::string name = "c";
             return ShellRenameFile(d / "src/gone.jpg", name);
         },
         "gone.jpg",
         std::errc::no_such_file_or_directory,
         {{"src/c.jpg", ""}}},
        // Several files: the operation stops at the first failure, and what
        // was done before it stays done.
        {"the second of three fails",
         [](auto& d) {
             return ShellFileOperation(FO_MOVE, {d / "src/a.jpg", d / "locked/in.jpg", d / "src/b.jpg"},
                                       d / "dst", false, true);
         },
         "in.jpg",
         std::errc::permission_denied,
         {{"dst/a.jpg", "A"},
          {"src/a.jpg", ""},
          {"locked/in.jpg", "I"},
          {"src/b.jpg", "B"},
          {"dst/b.jpg", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* sub : {"src", "dst", "locked"}) {
            fs::remove_all(dir / sub);
            fs::create_directories(dir / sub);
        }
        WriteText(dir / "src/a.jpg", "A");
        WriteText(dir / "src/b.jpg", "B");
        WriteText(dir / "locked/in.jpg", "I");
        host.asked.clear();
        host.reasons.clear();
        bool ok = true;
        {
            BrowserFixture::ReadOnlyFolder locked(dir / "locked");
            ok = c.run(dir);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(host.asked, std::vector<std::string>{"error " + c.failed});
        EXPECT_EQ(host.reasons, std::vector<std::string>{std::make_error_code(c.reason).message()});
        for (const auto& [file, content] : c.after) {
            if (content.empty())
                EXPECT_FALSE(fs::exists(dir / file)) << file;
            else
                EXPECT_EQ(ReadText(dir / file), content) << file;
        }
    }
}

TEST_F(FileOps, ACaseChangeIsARealRename) {
    WriteText(dir / "photo.jpg", "P");
    std::string name = "Photo";
    ASSERT_TRUE(ShellRenameFile(dir / "photo.jpg", name));
    EXPECT_EQ(name, dir / "Photo.jpg");
    EXPECT_EQ(ReadText(dir / "Photo.jpg"), "P");
    EXPECT_FALSE(fs::exists(dir / "photo.jpg"));
    EXPECT_TRUE(host.asked.empty());
}

TEST(FileOperationErrors, AreShownInAWarningBoxInPlainText) {
    // The program's own host: a message box owned by the main window.
    SetBrowserHost(nullptr);
    QString text, caption;
    bool warning = false, plain = false;
    TestSupport::PopupCloser closer(TestSupport::ActiveModal, [&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_TRUE(box);
        text = box->text();
        caption = box->windowTitle();
        warning = box->icon() == QMessageBox::Warning;
        plain = box->textFormat() == Qt::PlainText;
        SaveScreenshot(box, "file-operation-error");
    });
    EXPECT_FALSE(RunFileOperation(FO_COPY, {"/no/such/<b>photo</b>.jpg"}, "/tmp", FOF_ALLOWUNDO));
    EXPECT_TRUE(closer.Shown());
    EXPECT_EQ(closer.Count(), 1);
    EXPECT_TRUE(warning);
    EXPECT_TRUE(plain) << "a file name is never markup";
    EXPECT_EQ(caption, QApplication::applicationName());
    EXPECT_EQ(text, QString("The operation failed for \"/no/such/<b>photo</b>.jpg\":\n") +
                        QString::fromStdString(
                            std::make_error_code(std::errc::no_such_file_or_directory).message()));
    // Silenced errors show nothing.
    EXPECT_FALSE(RunFileOperation(FO_COPY, {"/no/such/photo.jpg"}, "/tmp", FOF_NOERRORUI));
    QCoreApplication::processEvents();
    EXPECT_EQ(closer.Count(), 1);
}

TEST(FileOperationErrors, SkippedFilesAreListedInOneBox) {
    SetBrowserHost(nullptr);
    TestData::ScratchDir dir;
    WriteText(dir / "a.jpg", "A");
    fs::create_directories(dir / "dst");
    QString text;
    TestSupport::PopupCloser closer(TestSupport::ActiveModal, [&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_TRUE(box);
        text = box->text();
        SaveScreenshot(box, "file-operation-skipped");
    });
    EXPECT_TRUE(RunFileOperation(FO_COPY, {dir / "gone.jpg", dir / "a.jpg", dir / "lost.jpg"}, dir / "dst", 0));
    EXPECT_EQ(closer.Count(), 1);
    const QString reason =
        QString::fromStdString(std::make_error_code(std::errc::no_such_file_or_directory).message());
    EXPECT_EQ(text, "These files were skipped:\n" + QString::fromStdString(dir / "gone.jpg") + ": " + reason +
                        "\n" + QString::fromStdString(dir / "lost.jpg") + ": " + reason);
    EXPECT_TRUE(fs::exists(dir / "dst/a.jpg"));
}

TEST_F(FileOps, DeleteGoesToTheTrashUnlessPermanent) {
    WriteText(dir / "photo one.jpg", "1");
    ASSERT_TRUE(RunFileOperation(FO_DELETE, {dir / "photo one.jpg"}, "", FOF_ALLOWUNDO));
    EXPECT_FALSE(fs::exists(dir / "photo one.jpg"));
    const std::string trashed = dir / "xdg/Trash/files/photo one.jpg";
    EXPECT_EQ(ReadText(trashed), "1");
    const std::string info = ReadText(dir / "xdg/Trash/info/photo one.jpg.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
    EXPECT_NE(info.find("photo%20one.jpg\nDeletionDate="), std::string::npos) << info;
    // A second file of the same name gets a name of its own in the trash.
    WriteText(dir / "photo one.jpg", "2");
    ASSERT_TRUE(RunFileOperation(FO_DELETE, {dir / "photo one.jpg"}, "", FOF_ALLOWUNDO));
    EXPECT_EQ(ReadText(dir / "xdg/Trash/files/photo one.2.jpg"), "2");
    // Restoring is moving back to the recorded place.
    fs::rename(trashed, dir / "photo one.jpg");
    EXPECT_EQ(ReadText(dir / "photo one.jpg"), "1");

    host.answer = false;
    EXPECT_FALSE(RunFileOperation(FO_DELETE, {dir / "photo one.jpg"}, "", FOF_NOERRORUI));
    EXPECT_TRUE(fs::exists(dir / "photo one.jpg"));
    host.answer = true;
    EXPECT_TRUE(RunFileOperation(FO_DELETE, {dir / "photo one.jpg"}, "", FOF_NOERRORUI));
    EXPECT_FALSE(fs::exists(dir / "photo one.jpg"));
    EXPECT_EQ(host.asked, (std::vector<std::string>{"delete 1", "delete 1"}));
}

TEST_F(FileOps, SizesAndFolderClearing) {
    WriteText(dir / "five.bin", "12345");
    EXPECT_EQ(GetFileSizeByName(dir / "five.bin"), 5u);
    EXPECT_EQ(GetFileSizeByName(dir / "missing.bin"), 0u);
    fs::create_directories(dir / "sub");
    WriteText(dir / "sub/keep.txt", "k");
    WriteText(dir / "ro.txt", "r");
    ::chmod((dir / "ro.txt").c_str(), 0400);
    DeleteFolderFiles(dir.path().string());
    EXPECT_FALSE(fs::exists(dir / "five.bin"));
    EXPECT_FALSE(fs::exists(dir / "ro.txt"));
    EXPECT_TRUE(fs::exists(dir / "sub/keep.txt"));
}

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "CEditVideoStoryboard.h"
#include "DocTestSupport.h"
#include "ProjectCommands.h"
#include "Screenshot.h"
#include "ThumbRequests.h"

using namespace TestDoubles;

namespace {

std::vector<std::string> ProjectPaths(COvHorizelDoc& doc) {
    std::vector<std::string> paths;
    doc.GetPhotoList().CollectPaths(paths);
    return paths;
}

QMimeData* UriList(const std::vector<std::string>& paths, const QList<QUrl>& extra = {}) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const std::string& path : paths)
        urls << QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
    data->setUrls(urls + extra);
    return data;
}

struct CommandsRig : DocRig {
    explicit CommandsRig(QWidget* frame = nullptr) : commands(frame, *doc) {
        commands.showMessage = [this](const std::string& text) { messages.push_back(text); };
    }
    CProjectCommands commands;
    std::vector<std::string> messages;
};

}  // namespace

TEST(ProjectCommands, DroppedFilesAreAddedOneByOneFoldersAndUrlsAreNot) {
    DocEnvironment env;
    CommandsRig rig;
    const std::string a = env.Photo("a.jpg"), b = env.Photo("b png.png");
    const std::string empty = env.scratch / "empty.jpg";
    std::ofstream(empty).flush();
    std::filesystem::create_directory(env.scratch / "folder.jpg");
    const std::string notes = env.scratch / "notes.txt";
    std::ofstream(notes) << "x";
    std::unique_ptr<QMimeData> data(
        UriList({a, env.scratch / "folder.jpg", b, empty, notes, a}, {QUrl("http://example.com/c.jpg")}));

    EXPECT_TRUE(CProjectCommands::AcceptsDrop(data.get()));
    EXPECT_EQ(CProjectCommands::DroppedFiles(data.get()), (std::vector<std::string>{a, b, empty, notes, a}));
    rig.commands.OnDropFiles(data.get());
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{a, b, empty}));
    EXPECT_EQ(rig.viewLog.Count("view 0"), 5);  // one add per file, as the shell hands them over

    // The empty file is reported and dropped when the photos load.
    rig.doc->SetCurrentTask(2);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].rfind("empty.jpg\n", 0), 0u);
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{a, b}));

    std::unique_ptr<QMimeData> web(UriList({}, {QUrl("http://example.com/c.jpg")}));
    EXPECT_FALSE(CProjectCommands::AcceptsDrop(web.get()));
    QMimeData text;
    text.setText("/tmp/a.jpg");
    EXPECT_FALSE(CProjectCommands::AcceptsDrop(&text));
}

TEST(ProjectCommands, ANameThatIsNotUtf8KeepsItsBytes) {
    DocEnvironment env;
    CommandsRig rig;
    const std::string latin1 = env.scratch / "caf\xe9.jpg";
    std::filesystem::copy_file(env.Photo("x.jpg"), latin1);
    QMimeData data;
    data.setData("text/uri-list",
                 QByteArray("file://") + QByteArray::fromStdString(latin1).toPercentEncoding("/") + "\r\n");
    EXPECT_EQ(CProjectCommands::DroppedFiles(&data), std::vector<std::string>{latin1});
    rig.commands.OnDropFiles(&data);
    EXPECT_EQ(ProjectPaths(*rig.doc), std::vector<std::string>{latin1});
    // The engine opens files by wide names, which cannot carry these bytes:
    // the photo is reported with its name and dropped, nothing else is lost.
    const std::string y = env.Photo("y.jpg");
    rig.doc->AddFiles({y});
    rig.doc->SetCurrentTask(2);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].rfind("caf\xe9.jpg\n", 0), 0u);
    EXPECT_EQ(ProjectPaths(*rig.doc), std::vector<std::string>{y});
}

TEST(ProjectCommands, AddingToAStitchedProjectAsksFirst) {
    DocEnvironment env;
    CommandsRig rig;
    rig.Stitched({env.Photo("a.jpg"), env.Photo("b.jpg")});
    const std::string c = env.Photo("c.jpg");
    rig.host.answer = DocResult::kNo;
    EXPECT_FALSE(rig.commands.AddFilesToProject({c}));
    EXPECT_EQ(rig.doc->GetPhotoList().GetCount(), 2u);
    rig.host.answer = DocResult::kYes;
    EXPECT_TRUE(rig.commands.AddFilesToProject({c}));
    EXPECT_EQ(rig.doc->GetPhotoList().GetCount(), 3u);
    // The old result is out of date, so the new photo gets stitched.
    EXPECT_TRUE(rig.doc->IsResultStale());
    EXPECT_EQ(rig.host.asked.size(), 2u);
}

TEST(ProjectCommands, SelectionRemoveAndRemoveAll) {
    DocEnvironment env;
    CommandsRig rig;
    // The strip's thumbnails are cached in the test's own folder.
    CMapStringToObPlus::SetCacheRoot(env.scratch / "cache");
    struct RestoreCacheRoot {
        ~RestoreCacheRoot() { CMapStringToObPlus::SetCacheRoot({}); }
    } restore;
    CEditVideoStoryboard strip(rig.doc.get());
    rig.commands.SetStrip(&strip);
    rig.doc->SetCurrentTask(1);

    rig.commands.OnAddSelectedImages({}, {});
    rig.commands.OnRemoveImage();
    EXPECT_EQ(rig.messages,
              (std::vector<std::string>{"Please select images to add to panorama project first!",
                                        "Please select images to delete from panorama project first!"}));
    bool deselected = false;
    const std::string a = env.Photo("a.jpg"), b = env.Photo("b.jpg"), c = env.Photo("c.jpg");
    rig.commands.OnAddSelectedImages({a, b, c}, [&] { deselected = true; });
    EXPECT_TRUE(deselected);
    ASSERT_EQ(rig.doc->GetPhotoList().GetCount(), 3u);
    CClipDescription* second = std::next(rig.doc->GetPhotoList().begin())->get();
    strip.Manager()->SetAnchorAndCurrent(second, second);
    rig.commands.OnRemoveImage();
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{a, c}));

    strip.MarkPhotos({c}, true);
    EXPECT_TRUE(std::next(rig.doc->GetPhotoList().begin())->get()->IsMarked());
    strip.MarkPhotos({c}, false);
    EXPECT_FALSE(std::next(rig.doc->GetPhotoList().begin())->get()->IsMarked());

    rig.doc->SetCurrentTask(2);
    EXPECT_FALSE(rig.commands.CanRemoveAllImages());
    rig.commands.OnRemoveAllImages();
    EXPECT_EQ(rig.doc->GetPhotoList().GetCount(), 2u);
    rig.doc->SetCurrentTask(1);
    rig.commands.OnRemoveAllImages();
    EXPECT_TRUE(rig.doc->GetPhotoList().IsEmpty());
    EXPECT_TRUE(strip.GetItems(strip.Manager()).empty());
}

TEST(ProjectCommands, AddImagesRunsTheOpenDialog) {
    DocEnvironment env;
    CommandsRig rig;
    const std::string a = env.Photo("a.jpg"), b = env.Photo("b.jpg");
    rig.commands.openFormats = [] { return std::string("JPEG files\0*.jpg\0\0", 19); };
    rig.commands.onOpenDialog = [&](CMyOpenFileDlg& dialog) {
        QTimer::singleShot(0, &dialog, [&dialog, &env] {
            dialog.setDirectory(QString::fromStdString(env.scratch.path().string()));
            dialog.findChild<QLineEdit*>("fileNameEdit")->setText("\"b.jpg\" \"a.jpg\"");
            QMetaObject::invokeMethod(&dialog, "accept");
        });
    };
    rig.commands.OnFileOpen();
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{b, a}));
}

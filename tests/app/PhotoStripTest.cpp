// The photo strip over a real document: layout, where editing works, keys,
// dragging within the strip, files dropped in, and marks after a stitch.

#include <gtest/gtest.h>

#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <fstream>

#include "CEditVideoStoryboard.h"
#include "DocTestSupport.h"
#include "Screenshot.h"
#include "TextCodec.h"
#include "ThumbRequests.h"

using namespace TestDoubles;

namespace {

// Marks go to the strip as the frame's callbacks pass them; the marks are
// read while the user is asked about the partial result.
class MarkingUi : public RecordingUserInterface {
public:
    void MarkFiles(const std::list<std::wstring>& names, bool mark) override {
        std::vector<std::string> paths;
        for (const std::wstring& name : names)
            paths.push_back(Platform::Utf8FromWide(name));
        if (strip)
            strip->MarkPhotos(paths, mark);
    }
    bool AskAcceptPanorama(int, int) override {
        for (const auto& photo : strip->Document()->GetPhotoList())
            markedWhileAsked.push_back(photo->IsMarked());
        return true;
    }
    CEditVideoStoryboard* strip = nullptr;
    std::vector<bool> markedWhileAsked;
};

class PhotoStrip : public ::testing::Test {
protected:
    void SetUp() override {
        // An earlier test's application exit stops the request thread for good.
        g_ThumbRequestQueue.Restart();
        CMapStringToObPlus::SetCacheRoot(env.scratch / "cache");
        doc = std::make_unique<COvHorizelDoc>();
        planar = new FakePlanarEngine;
        doc->AttachEngines(planar, new FakeTiledEngine);
        doc->SetHost(&host);
        doc->CreateEngines(&ui, &progress);
        const QColor colours[] = {Qt::darkCyan, Qt::darkYellow, Qt::darkMagenta, Qt::darkGreen};
        const char* names[] = {"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
        for (int i = 0; i < 4; ++i)
            paths.push_back(env.Photo(names[i], 96, 64, colours[i]));
        doc->AddFiles(paths);
        doc->SetCurrentTask(1);
        strip = std::make_unique<CEditVideoStoryboard>(doc.get());
        ui.strip = strip.get();
        strip->resize(760, 192);
        strip->show();
        strip->OnUpdate(nullptr, 0, nullptr);
    }
    void TearDown() override {
        g_ThumbRequestQueue.WaitIdle(5000);
        strip.reset();
        CMapStringToObPlus::SetCacheRoot({});
    }
    std::vector<std::string> Order() const {
        std::vector<std::string> names;
        for (const auto& photo : doc->GetPhotoList())
            names.push_back(photo->GetFileName());
        return names;
    }
    std::string Selected() const {
        std::string s;
        for (const auto& photo : doc->GetPhotoList())
            s += strip->Manager()->IsSelected(photo.get()) ? '1' : '0';
        return s;
    }
    QPoint CellCentre(int index) const {
        return strip->ItemRect(index).center() - QPoint(strip->ScrollX(), 0);
    }
    void Click(int index) { QTest::mouseClick(strip->viewport(), Qt::LeftButton, {}, CellCentre(index)); }
    void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(strip.get(), &press);
    }
    // Entering first: the toolkit passes moves and drops only to the widget
    // that accepted the drag's entry.
    void SendDrop(QEvent::Type type, const QMimeData& data, QPoint at, Qt::KeyboardModifiers keys = {}) {
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, keys);
        QCoreApplication::sendEvent(strip->viewport(), &enter);
        if (type == QEvent::Drop) {
            QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, keys);
            QCoreApplication::sendEvent(strip->viewport(), &drop);
        } else {
            QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, keys);
            QCoreApplication::sendEvent(strip->viewport(), &move);
        }
    }
    // Presses on a cell and drags to another; the drag is delivered to the
    // strip at the target and ends with the strip's answer.
    void DragWithin(int from, int to, Qt::KeyboardModifiers keys, std::function<void()> whileOver = {}) {
        // Beyond the press threshold even on the cell pressed.
        const QPoint target = CellCentre(to) + QPoint(20, 0);
        strip->execDrag = [&](QDrag* drag) {
            SendDrop(QEvent::DragMove, *drag->mimeData(), target, keys);
            if (whileOver)
                whileOver();
            SendDrop(QEvent::Drop, *drag->mimeData(), target, keys);
            return keys.testFlag(Qt::ControlModifier) ? Qt::CopyAction : Qt::MoveAction;
        };
        QTest::mousePress(strip->viewport(), Qt::LeftButton, {}, CellCentre(from));
        QMouseEvent move(QEvent::MouseMove, QPointF(target), QPointF(strip->viewport()->mapToGlobal(target)),
                         Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(strip->viewport(), &move);
        QTest::mouseRelease(strip->viewport(), Qt::LeftButton, {}, target);
    }

    DocEnvironment env;
    RecordingHost host;
    MarkingUi ui;
    RecordingProgressEx progress;
    std::unique_ptr<COvHorizelDoc> doc;
    FakePlanarEngine* planar = nullptr;
    std::vector<std::string> paths;
    std::unique_ptr<CEditVideoStoryboard> strip;
};

}  // namespace

TEST_F(PhotoStrip, LayoutAndEmptyProject) {
    const int step = strip->Step();
    EXPECT_EQ(step, 18 + 128);
    EXPECT_EQ(strip->ItemRect(2), QRect(2 * step + 18, 10, 128, 128));
    const int client = strip->viewport()->width();
    // Four photos end before the client's right edge: whole steps fill it, plus one.
    const int last = strip->ItemRect(3).right() + 1 + step;
    EXPECT_EQ(strip->ContentSize().width(), client - (client - last) % step + step);

    doc->GetPhotoList().DeleteAll();
    strip->OnUpdate(nullptr, 0, nullptr);
    EXPECT_EQ(strip->ContentSize().width(), client / step * step + step);
    const QImage shot = strip->viewport()->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(4, 128 + 28)), QColor(229, 229, 229)) << "the caption band";
}

TEST_F(PhotoStrip, ClicksAndKeysWorkOnlyWhereEditingIs) {
    Click(1);
    EXPECT_EQ(Selected(), "0100");
    Key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), "0110");
    EXPECT_EQ(strip->CurrentPath(), paths[1]);

    doc->SetCurrentTask(2);  // automatic matching: nothing reacts
    Click(3);
    Key(Qt::Key_Home);
    EXPECT_EQ(Selected(), "0000") << "the new elements cleared the selection";
    doc->SetMatchingMode(1);
    Click(3);
    EXPECT_EQ(Selected(), "0001");
}

TEST_F(PhotoStrip, DeleteRemovesTheSelection) {
    Key(Qt::Key_Delete);  // nothing selected: straight to the selection manager
    EXPECT_EQ(Order().size(), 4u);
    EXPECT_TRUE(host.asked.empty());
    Click(1);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Order(), (std::vector<std::string>{"a.jpg", "c.jpg", "d.jpg"}));
    EXPECT_EQ(Selected(), "010") << "the next photo takes the focus";
}

TEST_F(PhotoStrip, DraggingWithinTheStripReorders) {
    strip->MarkPhotos({paths[3]}, true);
    // The thumbnails arrive from the request thread.
    ASSERT_TRUE(g_ThumbRequestQueue.WaitIdle(10000));
    QCoreApplication::processEvents();
    ThumbItemPtr item;
    EXPECT_TRUE(LookupThumbCache(paths[0], item));
    Click(0);
    bool shot = false;
    DragWithin(0, 2, {}, [&] {
        EXPECT_TRUE(strip->Manager()->IsSelected(doc->GetPhotoList().begin()->get()));
        SaveScreenshot(strip.get(), "photo-strip-drag");
        shot = true;
    });
    EXPECT_TRUE(shot);
    EXPECT_EQ(Order(), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg", "d.jpg"}));
    EXPECT_EQ(Selected(), "0100") << "the moved photo stays selected";

    // Onto its own cell or the next: nothing changes.
    DragWithin(1, 1, {});
    DragWithin(1, 2, {});
    EXPECT_EQ(Order(), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg", "d.jpg"}));
    // Ctrl copies.
    DragWithin(1, 3, Qt::ControlModifier);
    EXPECT_EQ(Order(), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg", "a.jpg", "d.jpg"}));
    EXPECT_TRUE(host.asked.empty());
}

TEST_F(PhotoStrip, DroppedFilesAddOnlyPhotosAtThePointer) {
    const std::string folder = env.scratch / "folder.jpg";
    std::filesystem::create_directories(folder);
    const std::string text = env.scratch / "notes.txt";
    std::ofstream(text) << "not a photo";
    const std::string e = env.Photo("e.jpg"), f = env.Photo("f.png");
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : {folder, text, e, f})
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    data.setUrls(urls);
    SendDrop(QEvent::DragMove, data, CellCentre(1));
    SendDrop(QEvent::Drop, data, CellCentre(1));
    EXPECT_EQ(Order(), (std::vector<std::string>{"a.jpg", "e.jpg", "f.png", "b.jpg", "c.jpg", "d.jpg"}));
    EXPECT_EQ(Selected(), "011000");

    // Files already in the project add nothing and select nothing new.
    QMimeData again;
    again.setUrls({QUrl::fromLocalFile(QString::fromStdString(paths[0]))});
    SendDrop(QEvent::Drop, again, CellCentre(4));
    EXPECT_EQ(Order().size(), 6u);
    EXPECT_EQ(Selected(), "011000");

    // Forged bytes under the private format insert nothing.
    Archive::Writer bytes;
    bytes.WriteObjectTag(CClipDataSource::kClassName, 1);
    bytes.WriteCount(0xFFFFFFF0u);  // far more photos than bytes
    QMimeData forged;
    forged.setData(SerialClipFormat(), QByteArray(reinterpret_cast<const char*>(bytes.Bytes().data()),
                                                  static_cast<qsizetype>(bytes.Bytes().size())));
    SendDrop(QEvent::Drop, forged, CellCentre(0));
    EXPECT_EQ(Order().size(), 6u);
}

TEST_F(PhotoStrip, UnmatchedPhotosShowMarkedAfterAPartialStitch) {
    doc->SetCurrentTask(2);
    planar->scriptedReport.status = 1;
    planar->scriptedReport.unmatched = {1, 3};
    doc->StartStitching();
    EXPECT_EQ(ui.markedWhileAsked, (std::vector<bool>{false, true, false, true}));

    // Marking brings the rightmost marked photo into view.
    strip->resize(300, 192);
    strip->MarkPhotos({paths[3]}, true);
    const QRect visible = strip->GetVisibleRect();
    EXPECT_LE(strip->ItemRect(3).right() + 1, visible.x() + visible.width());
    EXPECT_GE(strip->ItemRect(3).left(), visible.x());
}

TEST_F(PhotoStrip, AMoveIntoAnotherWindowAsksBeforeRemoving) {
    doc->SetCurrentTask(2);
    doc->StartStitching();
    doc->SetMatchingMode(1);  // clicks work on the stitch task
    host.answer = DocResult::kNo;
    Click(0);
    strip->execDrag = [](QDrag*) { return Qt::MoveAction; };  // taken by another window
    QTest::mousePress(strip->viewport(), Qt::LeftButton, {}, CellCentre(0));
    QMouseEvent move(QEvent::MouseMove, QPointF(CellCentre(2)),
                     QPointF(strip->viewport()->mapToGlobal(CellCentre(2))), Qt::NoButton, Qt::LeftButton,
                     {});
    QCoreApplication::sendEvent(strip->viewport(), &move);
    EXPECT_EQ(host.asked.size(), 1u);
    EXPECT_EQ(Order(), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg", "d.jpg"})) << "the user said no";
}

#pragma once
// The photo strip: the project's photos in stitching order, one cell each
// with its thumbnail and file name, scrolling horizontally. Photos are
// selected with mouse and keys, reordered by dragging, removed with Delete,
// dropped in from file managers, and those the engine left unmatched are
// marked in red. Its drag source and drop target carry copies of photos
// under the private format, and file lists.

#include <QAbstractScrollArea>
#include <QFont>
#include <QImage>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CClipDescription.h"
#include "CSelectionManager.h"
#include "DocumentBase.h"
#include "FrameEngineCallbacks.h"
#include "SerialDragDrop.h"
#include "SizingControlBar.h"
#include "StripDrawing.h"
#include "ThumbRequests.h"

class COvHorizelDoc;
class CEditVideoStoryboard;
class QDrag;

// Copies of photos offered by a drag; read back by the receiver.
class CClipDataSource : public CSerialDataSource {
public:
    static constexpr const char* kClassName = "CClipDataSource";
    static void Register();

    std::string_view ClassName() const override { return kClassName; }
    void Serialize(Archive::Writer& ar) const override { m_photos.Serialize(ar); }
    void Serialize(Archive::Reader& ar) override { m_photos.Serialize(ar); }
    bool IsSerialFormat(const QString& format) const override { return format == SerialClipFormat(); }
    Qt::DropAction OnSerialDragOver(QWidget*, QWidget*, Qt::KeyboardModifiers, const QPoint&) override {
        return Qt::IgnoreAction;
    }
    bool OnSerialDrop(QWidget*, QWidget*, Qt::DropAction, const QPoint&) override { return false; }

    void Clear() { m_photos.DeleteAll(); }
    void AddCopy(const CClipDescription& photo) { m_photos.AddCopy(photo); }
    bool HasPhotos() const { return !m_photos.IsEmpty(); }
    CClipDescriptionList& Photos() { return m_photos; }
    // The mime data of a drag: the private format only.
    QMimeData* Offer() const { return MakeMimeData({SerialClipFormat()}); }

private:
    CClipDescriptionList m_photos;
};

// The strip's drop target: file lists first, then photos under the private format.
class CClipDropTarget : public CSerialDropTarget {
public:
    explicit CClipDropTarget(CEditVideoStoryboard* strip);
    Qt::DropAction OnDragOver(QWidget* under, const QMimeData* data, Qt::KeyboardModifiers keys,
                              const QPoint& point) override;
    bool OnDrop(QWidget* under, const QMimeData* data, Qt::DropAction action, const QPoint& point) override;
    void OnDragLeave() override;

private:
    CEditVideoStoryboard* m_strip;
};

class CEditVideoStoryboard : public QAbstractScrollArea,
                             public IDocView,
                             public ISelectable,
                             public IThumbnailNotify,
                             public IPhotoMarker {
    Q_OBJECT
public:
    explicit CEditVideoStoryboard(COvHorizelDoc* document, QWidget* parent = nullptr);
    ~CEditVideoStoryboard() override;

    COvHorizelDoc* Document() const { return m_document; }
    CSelectionManager* Manager() const { return m_manager.get(); }

    // A chosen context-menu command goes to the main window through this.
    std::function<void(int)> onCommand;

    // IDocView
    void OnUpdate(IDocView* sender, int hint, void* hintObject) override;
    // IPhotoMarker: mark on: only the listed photos marked and scrolled into
    // view; off: the listed photos unmarked.
    void MarkPhotos(const std::vector<std::string>& paths, bool mark) override;
    // IThumbnailNotify (any thread): posts to the strip.
    void OnThumbnailReady(int result, uintptr_t cookie) override;

    // ISelectable
    void OnSelectionChanged(CSelectionManager* manager) override;
    void Redraw() override;
    void ScrollTo(int x, int y) override;
    void SetCapture(bool capture) override;
    QRect GetVisibleRect() override;
    std::vector<SelItem> GetItems(CSelectionManager* manager) override;
    bool CanSelect(CSelectionManager*, SelItem) override { return true; }
    bool RemoveItem(CSelectionManager* manager, SelItem item) override;
    void RecalcItemRects(CSelectionManager* manager) override;
    void MoveSelectedTo(CSelectionManager* manager, int x, int y) override;

    // The anchor photo's path, "" without one.
    std::string CurrentPath() const;
    bool CanRemoveSelected() const { return m_manager->HasCurrent(); }
    // Removes the selected photos when the document agrees.
    void RemoveSelectedPhotos();

    void SetDropMarker(bool shown, int x, int y, int kind);
    bool IsDropMarkerShown() const { return m_markerShown; }
    // Inserts copies of photos in front of the photo at (x, y) (client
    // coordinates) and selects them; from files: asked first, and photos
    // already in the project are left out.
    void InsertPhotos(CClipDescriptionList& photos, int x, int y, bool relayout, bool fromFiles);
    // Readable image files of the names (folders and other files left out).
    void DropFiles(const std::vector<std::string>& names, int x, int y, bool relayout);
    // False when a drop at the point would leave the dragged photo where it is.
    bool IsReorderingDrop(const QPoint& point);
    bool IsEditingAllowed() const;

    // Layout.
    QSize CellSize() const { return m_cell; }
    int Step() const { return m_trans.width() + 18 + m_cell.width(); }
    QRect ItemRect(int index) const;
    QSize ContentSize() const;
    int ScrollX() const;

    // Runs a drag started here; the toolkit's drag loop unless set (tests
    // deliver the drop themselves).
    std::function<Qt::DropAction(QDrag*)> execDrag;
    bool IsDragging() const { return m_dragging; }
    // A drop of the strip's own drag landed here: the photos and the place,
    // carried out when the drag has ended.
    void NoteDrop(CClipDescriptionList& photos, const QPoint& point);

protected:
    bool event(QEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void LoadSkin();
    void Render();
    void DrawPhoto(QPainter& painter, CClipDescription& photo);
    void UpdateScrollSizes();
    // Right end of the last photo and its margin: how far the strip scrolls.
    int ScrollExtent() const;
    // Scrolls just enough for the photo to be seen whole.
    void ShowPhoto(CClipDescription* photo);
    CClipDescription* PhotoFromPoint(const QPoint& client);
    CClipDescription* FindPhoto(int id) const;
    void DragOver(QDropEvent* e);
    QImage DragPicture(CClipDescription* photo);

    struct PendingDrop {
        CClipDescriptionList photos;
        QPoint point;
        bool reorders = true;
    };

    COvHorizelDoc* m_document;
    QSize m_cell{128, 128};
    QSize m_trans{0, 0};
    int m_marginX = 9;
    int m_marginY = 10;
    COffscreenDC m_offscreen;
    QFont m_captionFont;
    QFont m_selectedFont;
    QImage m_bitmaps[4];  // transition, empty cell, highlighted frame, plain frame
    std::unique_ptr<CSelectionManager> m_manager;
    int m_savedScroll = 0;
    size_t m_shownCount = 0;
    bool m_markerShown = false;
    QPoint m_markerPoint;
    int m_markerKind = 0;
    QPoint m_dragStart;
    bool m_dragging = false;
    bool m_dropDuringDrag = false;
    std::unique_ptr<PendingDrop> m_pendingDrop;
    CClipDataSource m_dragSource;
    CClipDropTarget m_dropTarget;
    bool m_doubleClick = false;
};

// The docking bar "Panorama Project Images" that holds the strip.
class CPictureTray : public CSizingControlBarCF {
    Q_OBJECT
public:
    CPictureTray(const QString& title, int id, COvHorizelDoc* document, QWidget* parent = nullptr);
    CEditVideoStoryboard* Strip() const { return m_strip; }
    void RemoveSelected() { m_strip->RemoveSelectedPhotos(); }
    bool CanRemoveSelected() const { return m_strip->CanRemoveSelected(); }
    std::string CurrentPath() const { return m_strip->CurrentPath(); }

private:
    CEditVideoStoryboard* m_strip;
};

#include "CEditVideoStoryboard.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

#include "Bitmap32.h"
#include "COvHorizelDoc.h"
#include "CommandIds.h"
#include "DialogText.h"
#include "MainMenu.h"
#include "QtFileReading.h"
#include "SkinAccess.h"
#include "StringTable.h"
#include "TabstopNavigator.h"

namespace {

using DialogText::Str;

QString FileName(const CClipDescription& photo) {
    return QFile::decodeName(photo.GetFileName().c_str());
}

// Frames for a skin without the strip's pictures, so cells stay visible.
QImage PlainFrame(QSize size, QColor edge, QColor band) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(255, 255, 255));
    QPainter painter(&image);
    painter.setPen(QPen(edge, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(1, 1, size.width() - 2, size.height() - 2), 6, 6);
    painter.fillRect(QRect(7, 16, size.width() - 14, size.height() - 32), band);
    return image;
}

constexpr unsigned kStrAddImage = 15001;
constexpr unsigned kStrRemoveImage = 15002;
constexpr unsigned kStrRemoveAll = 15003;
constexpr unsigned kStrInfo = 15004;

}  // namespace

void CClipDataSource::Register() {
    static const bool done = [] {
        CSerialDataSource::RegisterClass(kClassName, [] { return std::make_unique<CClipDataSource>(); });
        return true;
    }();
    (void)done;
}

CClipDropTarget::CClipDropTarget(CEditVideoStoryboard* strip) : m_strip(strip) {
    CClipDataSource::Register();
    AddFormat(FileListFormat(), false);
    AddFormat(SerialClipFormat(), true);
    SetWindow(strip);
}

Qt::DropAction CClipDropTarget::OnDragOver(QWidget*, const QMimeData* data, Qt::KeyboardModifiers keys,
                                           const QPoint& point) {
    QString format;
    if (!FindAvailableFormat(data, format))
        return Qt::IgnoreAction;
    if (format == FileListFormat()) {
        m_strip->SetDropMarker(true, point.x(), point.y(), 1);
        return Qt::CopyAction;
    }
    m_strip->SetDropMarker(true, point.x(), point.y(), 2);
    return keys.testFlag(Qt::ControlModifier) ? Qt::CopyAction : Qt::MoveAction;
}

bool CClipDropTarget::OnDrop(QWidget*, const QMimeData* data, Qt::DropAction, const QPoint& point) {
    QString format;
    if (!FindAvailableFormat(data, format))
        return false;
    std::vector<std::string> files;
    if (format == FileListFormat() && GetDroppedFiles(data, files)) {
        m_strip->DropFiles(files, point.x(), point.y(), true);
    } else if (format == SerialClipFormat()) {
        std::unique_ptr<CSerialDataSource> object = ReadSerialObject(data, format);
        auto* clips = dynamic_cast<CClipDataSource*>(object.get());
        if (m_strip->IsDragging()) {
            // The strip's own drag: carried out, prompt and all, once the
            // drag has ended; until then the drag loop holds the pointer and
            // a prompt would not get its clicks.
            if (clips)
                m_strip->NoteDrop(clips->Photos(), point);
        } else if (m_strip->IsReorderingDrop(point) &&
                   !m_strip->Document()->ConfirmPhotoListChange(nullptr, nullptr, true)) {
            m_strip->SetDropMarker(false, 0, 0, 0);
            return false;
        } else if (clips) {
            m_strip->InsertPhotos(clips->Photos(), point.x(), point.y(), false, false);
        }
    }
    m_strip->SetDropMarker(false, 0, 0, 0);
    return true;
}

void CClipDropTarget::OnDragLeave() {
    m_strip->SetDropMarker(false, 0, 0, 0);
}

CEditVideoStoryboard::CEditVideoStoryboard(COvHorizelDoc* document, QWidget* parent)
    : QAbstractScrollArea(parent),
      m_document(document),
      m_manager(std::make_unique<CSelectionManager>(this)),
      m_dropTarget(this) {
    setObjectName(QStringLiteral("PhotoStrip"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::StyledPanel);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_captionFont = QFont(QStringLiteral("Verdana"));
    m_captionFont.setPointSize(7);
    m_selectedFont = m_captionFont;
    LoadSkin();
    AcquireThumbCache();
    if (m_document)
        m_document->AddView(this);
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::PhotoStrip);
    RecalcItemRects(m_manager.get());
    m_manager->ResetCurrent();
    UpdateScrollSizes();
}

CEditVideoStoryboard::~CEditVideoStoryboard() {
    if (m_document)
        m_document->RemoveView(this);
    CTabstopNavigator::RemoveWindow(this);
    CancelThumbnailRequests(this);
    m_offscreen.Release();
    ReleaseThumbCache();
}

void CEditVideoStoryboard::LoadSkin() {
    const char* keys[4] = {"bmpTrans", "bmpClip", "bmpClipActive", "bmpClipInactive"};
    for (int i = 0; i < 4; ++i) {
        const QString path = Skin::ImagePath("STORYBOARD", keys[i]);
        m_bitmaps[i] = path.isEmpty()
                           ? QImage()
                           : Platform::ReadQImage(Skin::FilePath(path), Bitmap32::kMaxPictureFileBytes);
    }
    if (!m_bitmaps[1].isNull() && !m_bitmaps[2].isNull() && !m_bitmaps[3].isNull()) {
        m_cell = m_bitmaps[1].size();
        if (!m_bitmaps[0].isNull())
            m_trans = m_bitmaps[0].size();
        return;
    }
    m_bitmaps[1] = PlainFrame(m_cell, QColor(200, 200, 200), QColor(246, 246, 246));
    m_bitmaps[2] = PlainFrame(m_cell, QColor(220, 40, 40), QColor(255, 255, 255));
    m_bitmaps[3] = PlainFrame(m_cell, QColor(150, 150, 150), QColor(255, 255, 255));
}

QRect CEditVideoStoryboard::ItemRect(int index) const {
    return QRect(index * Step() + m_trans.width() + 18, 10, m_cell.width(), m_cell.height());
}

int CEditVideoStoryboard::ScrollX() const {
    return horizontalScrollBar()->value();
}

bool CEditVideoStoryboard::IsEditingAllowed() const {
    return m_document && (m_document->CurrentTask() == Task::AddImages || m_document->GetMatchingMode() != 0);
}

std::vector<SelItem> CEditVideoStoryboard::GetItems(CSelectionManager* manager) {
    std::vector<SelItem> items;
    if (manager != m_manager.get() || !m_document)
        return items;
    for (const auto& photo : m_document->GetPhotoList())
        items.push_back(photo.get());
    return items;
}

void CEditVideoStoryboard::RecalcItemRects(CSelectionManager* manager) {
    if (!m_document)
        return;
    manager->ForgetMissingItems();
    int i = 0;
    for (const auto& photo : m_document->GetPhotoList())
        manager->SetItemRect(photo.get(), ItemRect(i++));
}

void CEditVideoStoryboard::OnSelectionChanged(CSelectionManager* manager) {
    if (manager == m_manager.get() && m_document)
        m_document->UpdateAllViews(this, 2);
}

void CEditVideoStoryboard::Redraw() {
    Render();
    viewport()->update();
}

void CEditVideoStoryboard::ScrollTo(int x, int) {
    horizontalScrollBar()->setValue(x);
}

void CEditVideoStoryboard::SetCapture(bool capture) {
    if (capture)
        viewport()->grabMouse();
    else
        viewport()->releaseMouse();
}

QRect CEditVideoStoryboard::GetVisibleRect() {
    return QRect(QPoint(ScrollX(), 0), viewport()->size());
}

bool CEditVideoStoryboard::RemoveItem(CSelectionManager* manager, SelItem item) {
    if (manager != m_manager.get() || !m_document)
        return false;
    auto* photo = static_cast<CClipDescription*>(item);
    CancelThumbnailRequest(this, static_cast<uintptr_t>(photo->GetId()));
    m_document->RemovePhotoAt(this, m_document->GetPhotoList().Find(photo));
    return true;
}

void CEditVideoStoryboard::MoveSelectedTo(CSelectionManager* manager, int x, int y) {
    if (!m_document)
        return;
    m_document->UpdateAllViews(this, 1);
    m_dragSource.Clear();
    std::vector<CClipDescription*> dragged;
    for (const auto& photo : m_document->GetPhotoList()) {
        if (manager->IsSelected(photo.get())) {
            m_dragSource.AddCopy(*photo);
            dragged.push_back(photo.get());
        }
    }
    if (m_dragSource.HasPhotos()) {
        m_dragStart = QPoint(x, y);
        auto* drag = new QDrag(this);
        drag->setMimeData(m_dragSource.Offer());
        const QImage picture = DragPicture(dragged.front());
        if (!picture.isNull()) {
            drag->setPixmap(QPixmap::fromImage(picture));
            drag->setHotSpot(QPoint(picture.width() / 2, picture.height() / 2));
        }
        // The drag takes the mouse: the press ends here, as a lost capture,
        // and the strip's own grab goes, or the next click after the drop
        // would still come here.
        m_manager->EndTracking(true);
        SetCapture(false);
        m_dragging = true;
        m_pendingDrop.reset();
        const Qt::DropAction result =
            execDrag ? execDrag(drag) : drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        m_dragging = false;
        drag->deleteLater();
        SetDropMarker(false, 0, 0, 0);
        // A drop here was only noted: its prompt runs now that the drag
        // loop, which holds the pointer, has ended.
        bool carryOut = true;
        if (std::unique_ptr<PendingDrop> drop = std::move(m_pendingDrop)) {
            carryOut = !drop->reorders || m_document->ConfirmPhotoListChange(nullptr, nullptr, true);
            if (carryOut)
                InsertPhotos(drop->photos, drop->point.x(), drop->point.y(), false, false);
        } else if (result == Qt::MoveAction) {
            // A move into another window changes this project too: ask as a
            // removal here would.
            carryOut = m_document->ConfirmPhotoListChange(nullptr, nullptr, true);
        }
        if (result == Qt::MoveAction && carryOut) {
            for (CClipDescription* photo : dragged) {
                CancelThumbnailRequest(this, static_cast<uintptr_t>(photo->GetId()));
                m_document->RemovePhoto(this, photo);
            }
            m_document->UpdateAllViews(this, 2);
            m_document->OnPhotoListEdited();
        }
        m_dragSource.Clear();
    }
    RecalcItemRects(manager);
    Redraw();
}

QImage CEditVideoStoryboard::DragPicture(CClipDescription* photo) {
    // The photo's cell as the strip shows it, caption included, at half size.
    const QRect cell = m_manager->GetItemRect(photo);
    if (cell.isEmpty())
        return {};
    QImage image(cell.width(), m_cell.height() + 36, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(-cell.x(), 0);
    DrawPhoto(painter, *photo);
    painter.end();
    return image.scaled(image.size() / 2, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void CEditVideoStoryboard::NoteDrop(CClipDescriptionList& photos, const QPoint& point) {
    m_pendingDrop = std::make_unique<PendingDrop>();
    m_pendingDrop->photos.AppendCopies(photos);
    m_pendingDrop->point = point;
    m_pendingDrop->reorders = IsReorderingDrop(point);
}

void CEditVideoStoryboard::ShowPhoto(CClipDescription* photo) {
    UpdateScrollSizes();
    const QRect rect = m_manager->GetItemRect(photo);
    if (rect.isEmpty())
        return;
    const QRect visible = GetVisibleRect();
    if (rect.right() + m_marginX >= visible.right())
        ScrollTo(rect.right() + 1 + m_marginX - visible.width(), 0);
    else if (rect.left() < visible.left())
        ScrollTo(rect.left() - m_marginX, 0);
}

std::string CEditVideoStoryboard::CurrentPath() const {
    auto* photo = static_cast<CClipDescription*>(m_manager->GetAnchorItem());
    return photo ? photo->GetPath() : std::string();
}

void CEditVideoStoryboard::RemoveSelectedPhotos() {
    if (!m_document || !m_document->ConfirmPhotoListChange(nullptr, nullptr, true))
        return;
    std::vector<SelItem> selected;
    for (SelItem item : GetItems(m_manager.get()))
        if (m_manager->IsSelected(item))
            selected.push_back(item);
    m_manager->RemoveItems(selected);
}

void CEditVideoStoryboard::SetDropMarker(bool shown, int x, int y, int kind) {
    m_markerShown = shown;
    m_markerPoint = QPoint(x, y);
    m_markerKind = kind;
    Redraw();
}

bool CEditVideoStoryboard::IsReorderingDrop(const QPoint& point) {
    if (!m_dragging || !m_document)
        return true;
    SelItem target = m_manager->InsertionItemFromPoint(point.x() + ScrollX(), point.y());
    SelItem dragged = m_manager->InsertionItemFromPoint(m_dragStart.x(), m_dragStart.y());
    if (!dragged)
        return true;
    if (target == dragged)
        return false;
    const std::vector<SelItem> items = GetItems(m_manager.get());
    const auto it = std::find(items.begin(), items.end(), dragged);
    return !(it != items.end() && std::next(it) != items.end() && *std::next(it) == target);
}

void CEditVideoStoryboard::InsertPhotos(CClipDescriptionList& photos, int x, int y, bool relayout,
                                        bool fromFiles) {
    if (!m_document)
        return;
    CClipDescriptionList& project = m_document->GetPhotoList();
    if (fromFiles) {
        std::vector<std::string> paths;
        photos.CollectPaths(paths);
        if (!m_document->ConfirmPhotoListChange(&paths, nullptr, false))
            return;
        for (auto it = photos.begin(); it != photos.end();) {
            auto next = std::next(it);
            if (project.FindByPath((*it)->GetPath()))
                photos.RemoveAt(it);
            it = next;
        }
    }
    if (photos.IsEmpty())
        return;
    // Found before the copies join the list: their cells are not laid out yet.
    SelItem before = m_manager->InsertionItemFromPoint(x + ScrollX(), y);
    const auto first = m_document->InsertPhotos(photos);
    CClipDescription* firstNew = first->get();
    CClipDescription* lastNew = std::prev(project.end())->get();
    m_document->UpdateAllViews(this, 2);
    if (before)
        m_document->MovePhotos(first, std::prev(project.end()),
                               project.Find(static_cast<CClipDescription*>(before)));
    if (relayout)
        RecalcItemRects(m_manager.get());
    SelItem previous = m_manager->GetCurrentItem();
    m_manager->SetAnchorAndCurrent(firstNew, lastNew);
    ShowPhoto(lastNew);
    CSelectionChange change(previous, lastNew, m_manager.get());
    m_document->UpdateAllViews(this, 3, &change);
    if (relayout)
        Redraw();
}

void CEditVideoStoryboard::DropFiles(const std::vector<std::string>& names, int x, int y, bool relayout) {
    if (m_dropDuringDrag) {
        // Another window of the program still runs its drag loop, which
        // holds the pointer: the files go in, prompt and all, right after.
        m_dropDuringDrag = false;
        QTimer::singleShot(0, this, [this, names, x, y, relayout] { DropFiles(names, x, y, relayout); });
        return;
    }
    CClipDescriptionList photos;
    photos.AddFiles(names, nullptr);
    InsertPhotos(photos, x, y, relayout, true);
}

void CEditVideoStoryboard::MarkPhotos(const std::vector<std::string>& paths, bool mark) {
    if (!m_document)
        return;
    auto listed = [&](const std::string& path) {
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    };
    int left = -1, right = -1, i = 0;
    for (const auto& photo : m_document->GetPhotoList()) {
        if (mark) {
            photo->SetMarked(listed(photo->GetPath()));
            if (photo->IsMarked()) {
                const QRect r = ItemRect(i);
                if (left < 0)
                    left = r.x();
                right = r.x() + r.width();
            }
        } else if (listed(photo->GetPath())) {
            photo->SetMarked(false);
        }
        ++i;
    }
    UpdateScrollSizes();
    if (mark && left >= 0) {
        const QRect visible = GetVisibleRect();
        int x = visible.x();
        if (left < visible.x())
            x = left;
        if (right > visible.x() + visible.width())
            x = right - visible.width();
        ScrollTo(x, 0);
    }
    RecalcItemRects(m_manager.get());
    Redraw();
}

void CEditVideoStoryboard::OnThumbnailReady(int result, uintptr_t cookie) {
    QCoreApplication::postEvent(this, new ThumbnailReadyEvent(result, cookie));
}

CClipDescription* CEditVideoStoryboard::FindPhoto(int id) const {
    if (!m_document)
        return nullptr;
    for (const auto& photo : m_document->GetPhotoList())
        if (photo->GetId() == id)
            return photo.get();
    return nullptr;
}

void CEditVideoStoryboard::OnUpdate(IDocView*, int hint, void* hintObject) {
    switch (hint) {
        case 0: {
            RecalcItemRects(m_manager.get());
            // Photos appended at the end come into view.
            const size_t count = m_document ? m_document->GetPhotoList().GetCount() : 0;
            if (count > m_shownCount && count > 0)
                ShowPhoto(std::prev(m_document->GetPhotoList().end())->get());
            Redraw();
            break;
        }
        case 4: {
            auto* photo = static_cast<CClipDescription*>(hintObject);
            const std::vector<SelItem> items = GetItems(m_manager.get());
            if (photo && std::find(items.begin(), items.end(), photo) != items.end())
                m_manager->SetAnchorAndCurrent(photo, photo);
            else
                m_manager->ResetCurrent();
            Redraw();
            break;
        }
        case 5:
            RecalcItemRects(m_manager.get());
            m_manager->ResetCurrent();
            Redraw();
            break;
        case 6:
            m_savedScroll = ScrollX();
            break;
        case 7:
            ScrollTo(m_savedScroll, 0);
            Redraw();
            break;
        default:
            break;
    }
}

QSize CEditVideoStoryboard::ContentSize() const {
    const int client = viewport()->width();
    const int step = Step();
    const size_t count = m_document ? m_document->GetPhotoList().GetCount() : 0;
    if (count == 0)
        return QSize(client / step * step + step, std::max(m_cell.height(), m_trans.height()));
    const QRect last = ItemRect(static_cast<int>(count) - 1);
    int width = last.x() + last.width() + step;
    if (width < client)
        width = client - ((client - width) % step) + step;
    return QSize(width, std::max(last.y() + last.height(), m_trans.height()));
}

int CEditVideoStoryboard::ScrollExtent() const {
    const size_t count = m_document ? m_document->GetPhotoList().GetCount() : 0;
    if (count == 0)
        return 0;
    return ItemRect(static_cast<int>(count) - 1).right() + 1 + m_marginX;
}

void CEditVideoStoryboard::UpdateScrollSizes() {
    // The empty frames after the photos are drawn across the view but are
    // not scrolled to: the bar appears only when the photos do not fit.
    QScrollBar* bar = horizontalScrollBar();
    bar->setRange(0, std::max(0, std::min(ContentSize().width(), ScrollExtent()) - viewport()->width()));
    bar->setPageStep(Step());
    bar->setSingleStep(Step());
}

void CEditVideoStoryboard::Render() {
    const QSize size = viewport()->size();
    if (size.width() >= 10000 || size.height() >= 10000 || size.isEmpty())
        return;
    if (m_offscreen.IsNull() || m_offscreen.Size() != size * viewport()->devicePixelRatioF())
        m_offscreen.Create(viewport(), size.width(), size.height());
    const int scroll = ScrollX();
    m_offscreen.SetWindowOrigin(scroll, 0);
    QPainter painter(&m_offscreen.Image());
    CDrawContext context(&painter);
    painter.translate(-scroll, 0);
    painter.fillRect(QRect(0, 0, scroll + size.width(), size.height()), context.m_window);
    const QSize content = ContentSize();
    painter.fillRect(QRect(0, m_cell.height() + 20, content.width(), 16), QColor(229, 229, 229));

    int x = 0, y = 10;
    int index = 0;
    m_shownCount = m_document ? m_document->GetPhotoList().GetCount() : 0;
    if (m_document) {
        for (const auto& photo : m_document->GetPhotoList()) {
            DrawPhoto(painter, *photo);
            ++index;
        }
    }
    if (index > 0) {
        const QRect last = ItemRect(index - 1);
        x = last.x() + last.width();
        y = last.y();
    }
    const int visibleRight = size.width() + scroll;
    bool firstFrame = true;
    while (firstFrame || x < visibleRight) {
        x += m_trans.width() + 18;
        if (!firstFrame && x >= visibleRight)
            break;
        painter.drawImage(QPoint(x, y), m_bitmaps[1]);
        x += m_cell.width();
        firstFrame = false;
    }
    if (!m_bitmaps[0].isNull())
        for (int k = 0; k * Step() < visibleRight; ++k)
            painter.drawImage(QPoint(9 + k * Step(), 10 + (m_cell.height() - m_trans.height()) / 2),
                              m_bitmaps[0]);

    QPen focus(Qt::black, 1, Qt::DashLine);
    if (m_markerShown && m_markerKind == 2) {
        painter.setPen(focus);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(m_markerPoint.x() + scroll - m_cell.width() / 2, 10, m_cell.width() - 1,
                               m_cell.height() - 1));
    }
    QRect band;
    if (m_manager->GetTrackingRect(band)) {
        painter.setPen(focus);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(band.intersected(GetVisibleRect()));
    }
    painter.end();
    UpdateScrollSizes();
}

void CEditVideoStoryboard::DrawPhoto(QPainter& painter, CClipDescription& photo) {
    const QRect rect = m_manager->GetItemRect(&photo);
    if (rect.isEmpty())
        return;
    const bool highlighted = m_manager->IsSelected(&photo) || photo.IsMarked();
    painter.drawImage(rect.topLeft(), m_bitmaps[highlighted ? 2 : 3]);
    const QRect thumb = rect.adjusted(7, 16, -7, -16);
    painter.fillRect(thumb, Qt::white);
    DrawThumbnailOrRequest(photo.GetPath(), painter, thumb, 0, this, static_cast<uintptr_t>(photo.GetId()));
    const QRect caption(rect.x(), m_cell.height() + 20, rect.width(), 16);
    painter.setFont(highlighted ? m_selectedFont : m_captionFont);
    painter.setPen(highlighted ? QColor(255, 0, 0) : QColor(0, 0, 0));
    const QString text =
        QFontMetrics(painter.font()).elidedText(FileName(photo), Qt::ElideRight, caption.width());
    painter.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, text);
}

void CEditVideoStoryboard::paintEvent(QPaintEvent*) {
    if (m_offscreen.IsNull())
        Render();
    QPainter painter(viewport());
    if (m_offscreen.IsNull()) {
        painter.fillRect(viewport()->rect(), Qt::white);
        return;
    }
    m_offscreen.CopyTo(painter, 0, 0);
}

void CEditVideoStoryboard::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    const QSize size = viewport()->size();
    if (size.width() < 10000 && size.height() < 10000) {
        UpdateScrollSizes();
        m_offscreen.Create(viewport(), std::max(1, size.width()), std::max(1, size.height()));
        Render();
    }
}

void CEditVideoStoryboard::scrollContentsBy(int, int) {
    Redraw();
}

CClipDescription* CEditVideoStoryboard::PhotoFromPoint(const QPoint& client) {
    return static_cast<CClipDescription*>(m_manager->ItemFromPoint(client.x() + ScrollX(), client.y()));
}

void CEditVideoStoryboard::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    const QPoint p = e->position().toPoint();
    if (e->button() == Qt::LeftButton && IsEditingAllowed()) {
        const int x = p.x() + ScrollX();
        SelItem item = m_manager->ItemFromPoint(x, p.y());
        if (item && e->modifiers().testFlag(Qt::ControlModifier)) {
            // Ctrl toggles one photo; one left selected can still be dragged.
            m_manager->ToggleItem(item);
            if (m_manager->IsSelected(item))
                m_manager->OnLButtonDown(x, p.y(), false);
        } else {
            // Shift grows the range from the anchor; without one it is a plain click.
            const bool extend =
                item && e->modifiers().testFlag(Qt::ShiftModifier) && m_manager->GetAnchorItem();
            m_manager->OnLButtonDown(x, p.y(), extend);
        }
    } else if (e->button() == Qt::RightButton && m_document && m_document->CurrentTask() == Task::AddImages) {
        if (CClipDescription* photo = PhotoFromPoint(p))
            m_manager->SetAnchorAndCurrent(photo, photo);
        else
            m_manager->ResetCurrent();
        Redraw();
    }
    QAbstractScrollArea::mousePressEvent(e);
}

void CEditVideoStoryboard::mouseMoveEvent(QMouseEvent* e) {
    if (IsEditingAllowed() && e->buttons().testFlag(Qt::LeftButton)) {
        const QPoint p = e->position().toPoint();
        m_manager->OnMouseMove(p.x() + ScrollX(), p.y());
    }
    QAbstractScrollArea::mouseMoveEvent(e);
}

void CEditVideoStoryboard::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && IsEditingAllowed()) {
        if (m_doubleClick)
            m_doubleClick = false;
        else
            m_manager->EndTracking(false);
    }
    QAbstractScrollArea::mouseReleaseEvent(e);
}

void CEditVideoStoryboard::mouseDoubleClickEvent(QMouseEvent* e) {
    if (IsEditingAllowed())
        m_doubleClick = true;
    QAbstractScrollArea::mouseDoubleClickEvent(e);
}

void CEditVideoStoryboard::keyPressEvent(QKeyEvent* e) {
    if (!IsEditingAllowed()) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    const bool isDelete = e->key() == Qt::Key_Delete;
    if (isDelete && m_manager->HasCurrent() && !m_document->ConfirmPhotoListChange(nullptr, nullptr, true))
        return;
    if (!m_manager->OnKeyDown(e->key(), e->modifiers().testFlag(Qt::ShiftModifier)))
        QAbstractScrollArea::keyPressEvent(e);
    if (isDelete)
        m_document->OnPhotoListEdited();
}

void CEditVideoStoryboard::contextMenuEvent(QContextMenuEvent* e) {
    if (!m_document || m_document->CurrentTask() != Task::AddImages)
        return;
    MenuEx::CNewMenu menu(nullptr, this);
    const bool onPhoto = PhotoFromPoint(viewport()->mapFrom(this, e->pos())) != nullptr;
    struct Entry {
        unsigned text;
        int command;
        bool enabled;
    };
    const Entry entries[] = {{kStrAddImage, CmdId::FileOpen, true},
                             {kStrRemoveImage, CmdId::RemoveSelected, onPhoto},
                             {kStrRemoveAll, CmdId::RemoveAll, !m_document->GetPhotoList().IsEmpty()},
                             {0, 0, false},
                             {kStrInfo, CmdId::PhotoInfo, onPhoto}};
    for (const Entry& entry : entries) {
        if (entry.text == 0) {
            menu.addSeparator();
            continue;
        }
        menu.AppendCommand(uint32_t(entry.command), Str(entry.text))->setEnabled(entry.enabled);
    }
    MainMenu::AttachToolBarIcons(menu);
    QAction* chosen = menu.exec(e->globalPos());
    if (chosen && onCommand)
        onCommand(chosen->data().toInt());
}

void CEditVideoStoryboard::DragOver(QDropEvent* e) {
    const Qt::DropAction action =
        m_dropTarget.OnDragOver(this, e->mimeData(), e->modifiers(), e->position().toPoint());
    if (action == Qt::IgnoreAction) {
        e->ignore();
        return;
    }
    e->setDropAction(action);
    e->accept();
}

void CEditVideoStoryboard::dragEnterEvent(QDragEnterEvent* e) {
    DragOver(e);
}

void CEditVideoStoryboard::dragMoveEvent(QDragMoveEvent* e) {
    DragOver(e);
}

void CEditVideoStoryboard::dragLeaveEvent(QDragLeaveEvent*) {
    m_dropTarget.OnDragLeave();
}

void CEditVideoStoryboard::dropEvent(QDropEvent* e) {
    const Qt::DropAction action =
        m_dropTarget.OnDragOver(this, e->mimeData(), e->modifiers(), e->position().toPoint());
    m_dropDuringDrag = e->source() != nullptr && !m_dragging;
    const bool taken = m_dropTarget.OnDrop(this, e->mimeData(), action, e->position().toPoint());
    m_dropDuringDrag = false;
    if (taken) {
        e->setDropAction(action);
        e->accept();
    } else {
        e->ignore();
    }
}

bool CEditVideoStoryboard::event(QEvent* e) {
    if (e->type() == ThumbnailReadyEvent::EventType()) {
        const auto* ready = static_cast<ThumbnailReadyEvent*>(e);
        // A photo removed meanwhile is simply not found.
        if (FindPhoto(static_cast<int>(ready->m_cookie)))
            Redraw();
        return true;
    }
    return QAbstractScrollArea::event(e);
}

bool CEditVideoStoryboard::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        if (CClipDescription* photo = PhotoFromPoint(help->pos()))
            QToolTip::showText(help->globalPos(), FileName(*photo), viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(e);
}

CPictureTray::CPictureTray(const QString& title, int id, COvHorizelDoc* document, QWidget* parent)
    : CSizingControlBarCF(title, id, parent), m_strip(new CEditVideoStoryboard(document, this)) {
    setWidget(m_strip);
}

// CThumbsInteraction: the thumbnail pane towards the user.

#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "BrowserHost.h"
#include "CFolderMonitor.h"
#include "CMyOleDropSource.h"
#include "CPopupEdit.h"
#include "CThumbsBrowser.h"
#include "CThumbsBrowserProgress.h"
#include "CThumbsInteraction.h"
#include "CommandIds.h"
#include "CpuSpeed.h"
#include "FileOperations.h"
#include "FolderFiles.h"
#include "PathParts.h"
#include "QtFileUrls.h"
#include "StringTable.h"

namespace {

constexpr int kTimerMs = 50;
constexpr int kGapWidth = 20;
constexpr int kDragSlop = 2;
constexpr int kScrollLine = 20;
constexpr const char* kUndoNewer = "OVIMGBRSUND1";
constexpr const char* kUndoOlder = "OVIMGBRSUND2";

// The desktops' markers of a cut: GNOME-family file managers read the first
// line of x-special/gnome-copied-files, KDE's the "1" of its cut selection.
const QString kGnomeCopied = QStringLiteral("x-special/gnome-copied-files");
const QString kKdeCut = QStringLiteral("application/x-kde-cutselection");

enum : unsigned {
    IDS_MENU_CUT = 0xFB20,
    IDS_MENU_COPY,
    IDS_MENU_PASTE,
    IDS_MENU_DELETE,
    IDS_MENU_RENAME,
    IDS_MENU_INFO,
    IDS_MENU_ADD,
    IDS_MENU_SELECT_ALL,
    IDS_MENU_REFRESH,
};

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Both on one mounted file system: a drop there moves, elsewhere copies.
bool IsSameMount(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

bool OnUiThread() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

QString Text(unsigned id) {
    return QString::fromUtf8(Res::LoadStr(id));
}

}  // namespace

CThumbsInteraction::CThumbsInteraction(CThumbsBrowser& browser)
    : m_browser(browser),
      m_listing(browser.m_listing),
      m_selection(browser.m_selection),
      m_layout(browser.m_layout),
      m_pView(browser.m_pView),
      m_pMonitor(browser.m_pMonitor),
      onDoubleClick(browser.onDoubleClick),
      onSelectionChanged(browser.onSelectionChanged),
      m_pProgress(std::make_unique<CThumbsBrowserProgress>()) {
    MeasureCpuSpeed(m_cpuSpeed);
}

CThumbsInteraction::~CThumbsInteraction() {
    Shutdown();
}

void CThumbsInteraction::Shutdown() {
    KillTimer();
    delete m_timerHost;
    m_timerHost = nullptr;
    // An open editor must not commit into a browser half destroyed.
    if (auto* edit = qobject_cast<CPopupEdit*>(m_popupEdit.data())) {
        edit->Detach();
        delete edit->parentWidget();
    }
}

// ---- the browser's parts ----

std::vector<std::string> CThumbsInteraction::Paths() const {
    return m_listing.Paths();
}

int CThumbsInteraction::ItemCount() const {
    return m_listing.Count();
}

void CThumbsInteraction::GetSelectedFiles(std::vector<std::string>& files) const {
    m_browser.GetSelectedFiles(files);
}

void CThumbsInteraction::GetSelectionRange(int& first, int& last) const {
    m_browser.GetSelectionRange(first, last);
}

bool CThumbsInteraction::IsSelected(int index) const {
    return m_browser.IsSelected(index);
}

void CThumbsInteraction::DeselectAll() {
    m_browser.DeselectAll();
}

void CThumbsInteraction::DeselectAllExcept(int index) {
    m_browser.DeselectAllExcept(index);
}

void CThumbsInteraction::SetSelected(int index, bool selected) {
    m_browser.SetSelected(index, selected);
}

void CThumbsInteraction::SelectAll() {
    m_browser.SelectAll();
}

QSize CThumbsInteraction::ViewClient() const {
    return m_browser.ViewClient();
}

QPoint CThumbsInteraction::ViewScroll() const {
    return m_browser.ViewScroll();
}

QSize CThumbsInteraction::GetItemCellSize() const {
    return m_browser.GetItemCellSize();
}







std::string CThumbsInteraction::CurrentFolder() const {
    return m_listing.Folder();
}

void CThumbsInteraction::ReadFolder() {
    m_browser.ReadFolder();
}

void CThumbsInteraction::LockItems() {
    m_browser.LockItems();
}

void CThumbsInteraction::UnlockItems() {
    m_browser.UnlockItems();
}

void CThumbsInteraction::PauseWorker() {
    m_browser.PauseWorker();
}

void CThumbsInteraction::ResumeWorker() {
    m_browser.ResumeWorker();
}

void CThumbsInteraction::UpdateStatus() {
    m_browser.UpdateStatus();
}

void CThumbsInteraction::DeleteFiles(bool forgetUndo) {
    m_browser.DeleteFiles(forgetUndo);
}

void CThumbsInteraction::OnFileRenamed(const std::string& oldPath, const std::string& newPath) {
    m_browser.OnFileRenamed(oldPath, newPath);
}

void CThumbsInteraction::ItemsChanged(bool resorted) {
    m_browser.ItemsChanged(resorted);
}

std::string CThumbsInteraction::TempPath(const char* name) const {
    return m_browser.TempPath(name);
}

QMimeData* CThumbsInteraction::CreateFilesData(const std::vector<std::string>& files, bool cut) {
    return CThumbsBrowser::CreateFilesData(files, cut);
}

std::vector<std::string> CThumbsInteraction::FilesFromData(const QMimeData* data) {
    return CThumbsBrowser::FilesFromData(data);
}

bool CThumbsInteraction::IsCutData(const QMimeData* data) {
    return CThumbsBrowser::IsCutData(data);
}

bool CThumbsInteraction::ClipboardHasFiles() {
    return CThumbsBrowser::ClipboardHasFiles();
}

// ---- selection ----

void CThumbsInteraction::SelectionChanged() {
    if (m_pView)
        m_pView->Invalidate();
    if (onSelectionChanged)
        onSelectionChanged();
    UpdateStatus();
}

void CThumbsInteraction::RepaintItems(const std::vector<int>& indices) {
    if (!m_pView)
        return;
    const int width = ViewClient().width();
    const QPoint scroll = ViewScroll();
    for (int index : indices)
        m_pView->InvalidateRect(m_layout.GetItemRect(index, width).translated(-scroll).adjusted(-2, -2, 2, 2));
}

void CThumbsInteraction::SelectItem(int index) {
    if (index < 0 || index >= ItemCount())
        return;
    DeselectAllExcept(index);
    SetSelected(index, true);
    if (m_pView)
        m_pView->ScrollTo(m_layout.EnsureVisible(index, ViewClient(), ViewScroll()));
    SelectionChanged();
}

void CThumbsInteraction::SelectRangeTo(int index) {
    int first, last;
    GetSelectionRange(first, last);
    // From the far end of the current range to the target.
    int from = index;
    if (first >= 0)
        from = index < first ? last : (index > last ? first : first);
    const int lo = std::min(from, index), hi = std::max(from, index);
    const std::vector<std::string> paths = Paths();
    CSelection<std::string>::Batch batch(m_selection);
    for (int i = lo; i <= hi && static_cast<size_t>(i) < paths.size(); ++i)
        m_selection.Set(paths[i], true);
}

bool CThumbsInteraction::OnKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    const bool control = modifiers & Qt::ControlModifier;
    if (control && (key == Qt::Key_C || key == Qt::Key_X)) {
        CopySelection(key == Qt::Key_X);
        return true;
    }
    if (control && key == Qt::Key_V) {
        Paste();
        return true;
    }
    if (key == Qt::Key_Delete) {
        DeleteFiles(false);
        return true;
    }
    const int count = ItemCount();
    const QSize client = ViewClient();
    const QSize cell = GetItemCellSize();
    const int columns = m_layout.GetColumns(client.width());
    const int pageRows = std::max(1, cell.height() > 0 ? client.height() / cell.height() : 1);
    int first, last;
    GetSelectionRange(first, last);
    const bool none = first < 0;
    int target;
    switch (key) {
        case Qt::Key_Left:
            target = none ? 0 : std::max(0, first - 1);
            break;
        case Qt::Key_Right:
            target = none ? 0 : std::min(count - 1, last + 1);
            break;
        case Qt::Key_Up:
            target = none ? 0 : std::max(0, first - columns);
            break;
        case Qt::Key_Down:
            target = none ? 0 : std::min(count - 1, last + columns);
            break;
        case Qt::Key_Home:
            target = 0;
            break;
        case Qt::Key_End:
            target = count - 1;
            break;
        case Qt::Key_PageUp:
            target = none ? 0 : std::max(0, first - pageRows * columns);
            break;
        case Qt::Key_PageDown:
            target = none ? 0 : std::min(count - 1, last + pageRows * columns);
            break;
        default:
            return false;
    }
    if (count == 0)
        return true;
    if (modifiers & Qt::ShiftModifier) {
        SelectRangeTo(target);
    } else {
        DeselectAllExcept(target);
        SetSelected(target, true);
    }
    if (m_pView)
        m_pView->ScrollTo(m_layout.EnsureVisible(target, client, ViewScroll()));
    SelectionChanged();
    return true;
}

// ---- mouse ----

void CThumbsInteraction::StartTimer() {
    if (!OnUiThread())
        return;
    if (!m_timerHost) {
        auto* timer = new QTimer;
        timer->setInterval(kTimerMs);
        QObject::connect(timer, &QTimer::timeout, [this] { OnTimer(m_timerId); });
        m_timerHost = timer;
    }
    m_timerId = 1;
    static_cast<QTimer*>(m_timerHost)->start();
}

void CThumbsInteraction::KillTimer() {
    if (m_timerHost)
        static_cast<QTimer*>(m_timerHost)->stop();
    m_timerId = 0;
}

QRect CThumbsInteraction::BandRect() const {
    if (!m_bBand)
        return QRect();
    return QRect(m_bandAnchor - ViewScroll(), m_bandPoint).normalized();
}

void CThumbsInteraction::OnLButtonDown(QPoint point, Qt::KeyboardModifiers modifiers) {
    KillTimer();
    const QSize client = ViewClient();
    const QPoint scroll = ViewScroll();
    const int index = m_layout.HitTest(point, client.width(), scroll);
    std::vector<std::string> selected;
    GetSelectedFiles(selected);
    int first, last;
    GetSelectionRange(first, last);
    if (selected.size() == 1 && index >= 0 && index == first &&
        m_layout.GetCaptionRect(index, client.width()).translated(-scroll).contains(point)) {
        BeginRename(index);
        return;
    }
    m_bPressed = true;
    m_pressPoint = point;
    m_pressModifiers = modifiers;
    m_pressedIndex = index;
    m_bBand = false;
    if (index < 0) {
        DeselectAll();
        m_bBand = true;
        m_bandAnchor = point + scroll;
        m_bandPoint = point;
    } else if (modifiers & Qt::ControlModifier) {
        // The toggle waits for the release.
    } else if (modifiers & Qt::ShiftModifier) {
        SelectRangeTo(index);
    } else {
        if (!IsSelected(index)) {
            DeselectAllExcept(index);
            SetSelected(index, true);
        }
    }
    StartTimer();
    SelectionChanged();
}

void CThumbsInteraction::OnMouseMove(QPoint point, Qt::MouseButtons buttons,
                                     Qt::KeyboardModifiers modifiers) {
    if (!(buttons & Qt::LeftButton)) {
        if (m_bBand && m_pView)
            m_pView->InvalidateRect(BandRect().adjusted(-1, -1, 1, 1));
        m_bPressed = false;
        m_bBand = false;
        KillTimer();
        return;
    }
    if (m_bPressed && !m_bBand && m_pressedIndex >= 0) {
        const QPoint moved = point - m_pressPoint;
        if (std::abs(moved.x()) > kDragSlop || std::abs(moved.y()) > kDragSlop) {
            m_bPressed = false;
            KillTimer();
            StartDrag();
        }
        return;
    }
    if (!m_bBand)
        return;
    if (m_pView)
        m_pView->InvalidateRect(BandRect().adjusted(-1, -1, 1, 1));
    const QSize client = ViewClient();
    QPoint scroll = ViewScroll();
    const int bottom = std::max(0, m_layout.ContentSize(client.width()).height() - client.height());
    if (m_pView && point.y() > client.height() && scroll.y() < bottom) {
        scroll.setY(std::min(bottom, scroll.y() + kScrollLine));
        m_pView->ScrollTo(scroll);
        scroll = ViewScroll();
    } else if (m_pView && point.y() < 0 && scroll.y() > 0) {
        scroll.setY(std::max(0, scroll.y() - kScrollLine));
        m_pView->ScrollTo(scroll);
        scroll = ViewScroll();
    }
    m_bandPoint = point;
    m_pressModifiers = modifiers;
    const QRect band = BandRect();
    const std::vector<std::string> paths = Paths();
    std::vector<int> changed;
    {
        CSelection<std::string>::Batch batch(m_selection);
        for (size_t i = 0; i < paths.size(); ++i) {
            const int index = static_cast<int>(i);
            const bool inside = m_layout.GetItemRect(index, client.width()).translated(-scroll).intersects(band);
            if (m_selection.Set(paths[i], inside))
                changed.push_back(index);
        }
    }
    RepaintItems(changed);
    if (m_pView)
        m_pView->InvalidateRect(band.adjusted(-1, -1, 1, 1));
    if (!changed.empty() && onSelectionChanged)
        onSelectionChanged();
}

void CThumbsInteraction::OnLButtonUp(QPoint point, Qt::KeyboardModifiers /*modifiers*/) {
    KillTimer();
    if (m_bBand) {
        if (m_pView)
            m_pView->InvalidateRect(BandRect().adjusted(-1, -1, 1, 1));
        m_bBand = false;
    } else if (m_bPressed) {
        const int index = m_layout.HitTest(point, ViewClient().width(), ViewScroll());
        if (m_pressModifiers & Qt::ControlModifier) {
            const std::string path = m_listing.PathAt(index);
            if (!path.empty())
                m_selection.Toggle(path);
        } else if (!(m_pressModifiers & Qt::ShiftModifier) && index >= 0) {
            DeselectAllExcept(index);
            SetSelected(index, true);
        }
    }
    m_bPressed = false;
    m_pressedIndex = -1;
    SelectionChanged();
}

void CThumbsInteraction::OnLButtonDblClk(QPoint /*point*/) {
    std::vector<std::string> files;
    GetSelectedFiles(files);
    if (onDoubleClick)
        onDoubleClick(files);
}

void CThumbsInteraction::OnTimer(int /*id*/) {
    if (m_bBand) {
        const QSize client = ViewClient();
        const QPoint scroll = ViewScroll();
        const int bottom = std::max(0, m_layout.ContentSize(client.width()).height() - client.height());
        if ((m_bandPoint.y() < 0 && scroll.y() > 0) ||
            (m_bandPoint.y() > client.height() && scroll.y() < bottom))
            OnMouseMove(m_bandPoint, Qt::LeftButton, m_pressModifiers);
        return;
    }
    // Long names of the selected items scroll along their caption strips.
    std::vector<std::string> selected;
    GetSelectedFiles(selected);
    for (const std::string& path : selected) {
        QRect dirty;
        {
            std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
            ThumbItemPtr item;
            if (g_ThumbCache.Lookup(path, item) && item)
                dirty = item->ScrollCaption();
        }
        if (!dirty.isEmpty() && m_pView)
            m_pView->InvalidateRect(dirty);
    }
}

// ---- context menu ----

std::unique_ptr<QMenu> CThumbsInteraction::CreateContextMenu(QWidget* parent) {
    std::vector<std::string> selected;
    GetSelectedFiles(selected);
    auto menu = std::make_unique<QMenu>(parent);
    // The menu resources: none, one and several selected.
    menu->setObjectName(QString::number(selected.empty() ? 142 : (selected.size() == 1 ? 132 : 146)));
    auto add = [&](int id, unsigned text, std::function<void()> run) {
        QAction* action = menu->addAction(Text(text));
        action->setObjectName(QString::number(id));
        QObject::connect(action, &QAction::triggered, std::move(run));
        return action;
    };
    auto post = [](int id) { return [id] { BrowserHost().PostMainWindowCommand(id); }; };
    if (!selected.empty()) {
        add(CmdId::AddSelected, IDS_MENU_ADD, post(CmdId::AddSelected));
        menu->addSeparator();
        add(CmdId::EditCut, IDS_MENU_CUT, [this] { CopySelection(true); });
        add(CmdId::EditCopy, IDS_MENU_COPY, [this] { CopySelection(false); });
    }
    add(CmdId::EditPaste, IDS_MENU_PASTE, [this] { Paste(); })->setEnabled(ClipboardHasFiles());
    if (!selected.empty()) {
        menu->addSeparator();
        add(CmdId::EditClear, IDS_MENU_DELETE, [this] { DeleteFiles(false); });
    }
    if (selected.size() == 1) {
        add(CmdId::Rename, IDS_MENU_RENAME, [this] {
            int first, last;
            GetSelectionRange(first, last);
            BeginRename(first);
        });
        add(CmdId::Info, IDS_MENU_INFO, post(CmdId::Info));
    }
    if (selected.empty()) {
        menu->addSeparator();
        add(CmdId::SelectAll, IDS_MENU_SELECT_ALL, [this] {
            SelectAll();
            UpdateStatus();
        });
        add(CmdId::Refresh, IDS_MENU_REFRESH, post(CmdId::Refresh));
    }
    return menu;
}

void CThumbsInteraction::OnRButtonDown(QPoint point, QPoint globalPos) {
    const int index = m_layout.HitTest(point, ViewClient().width(), ViewScroll());
    if (index >= 0) {
        if (!IsSelected(index)) {
            DeselectAllExcept(index);
            SetSelected(index, true);
            SelectionChanged();
        }
    }
    std::unique_ptr<QMenu> menu = CreateContextMenu(m_pView ? m_pView->Widget() : nullptr);
    menu->exec(globalPos);
}

// ---- rename ----

CPopupEdit* CThumbsInteraction::PopupEdit() const {
    return qobject_cast<CPopupEdit*>(m_popupEdit.data());
}

CPopupEdit* CThumbsInteraction::BeginRename(int index) {
    QWidget* widget = m_pView ? m_pView->Widget() : nullptr;
    const std::string path = m_listing.PathAt(index);
    if (path.empty())
        return nullptr;
    if (!widget)
        return nullptr;
    if (CPopupEdit* open = PopupEdit())
        open->Commit();
    const QRect caption = m_layout.GetCaptionRect(index, ViewClient().width()).translated(-ViewScroll());
    auto* host = new QFrame(widget);
    host->setObjectName(QStringLiteral("Popup"));
    host->setFrameShape(QFrame::NoFrame);
    auto* edit = new CPopupEdit(&m_browser, host);
    edit->m_path = path;
    // The box is as wide as the name with its extension, never narrower than the caption.
    const QFontMetrics metrics(edit->font());
    const int width =
        std::max(caption.width(), metrics.horizontalAdvance(QString::fromStdString(FileNameOf(path))) + 16);
    const int height = std::max(caption.height(), metrics.height() + 6);
    QRect box(0, 0, width, height);
    box.moveCenter(caption.center());
    box.moveLeft(std::clamp(box.left(), 0, std::max(0, widget->width() - width)));
    host->setGeometry(box);
    edit->setGeometry(host->rect());
    edit->setText(QString::fromStdString(TitleOf(path)));
    edit->selectAll();
    host->show();
    edit->setFocus(Qt::OtherFocusReason);
    m_popupEdit = edit;
    return edit;
}

void CThumbsInteraction::RenameItem(const std::string& oldPath, const std::string& newPath) {
    m_listing.Rename(oldPath, newPath);
    m_selection.Rename(oldPath, newPath);
}

bool CThumbsInteraction::RenameFile(const std::string& path, const std::string& newTitle) {
    // A name that is not one of this folder is refused, and said so, below.
    if (newTitle.empty())
        return false;
    // Another case is another name here, and a real rename.
    if (newTitle == TitleOf(path))
        return true;
    LockItems();
    PauseWorker();
    std::string newPath = newTitle;
    if (!ShellRenameFile(path, newPath)) {
        ResumeWorker();
        UnlockItems();
        return false;
    }
    RenameItem(path, newPath);
    ResumeWorker();
    OnFileRenamed(path, newPath);
    if (BrowserHost().IsReadableImageFile(newPath)) {
        UnlockItems();
    } else {
        UnlockItems();
        ReadFolder();
    }
    if (m_pView)
        m_pView->Invalidate();
    ItemsChanged();
    if (onSelectionChanged)
        onSelectionChanged();
    return true;
}

// ---- drag and drop ----

QMimeData* CThumbsBrowser::CreateFilesData(const std::vector<std::string>& files, bool cut) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    QByteArray gnome = cut ? "cut" : "copy";
    for (const std::string& path : files) {
        const QUrl url = Platform::UrlOfLocalPath(path);
        urls << url;
        gnome += '\n' + url.toEncoded();
    }
    data->setUrls(urls);
    data->setData(kGnomeCopied, gnome);
    if (cut)
        data->setData(kKdeCut, "1");
    return data;
}

std::vector<std::string> CThumbsBrowser::FilesFromData(const QMimeData* data) {
    std::vector<std::string> files;
    if (!data)
        return files;
    QList<QUrl> urls = data->urls();
    if (urls.isEmpty() && data->hasFormat(kGnomeCopied)) {
        const QList<QByteArray> lines = data->data(kGnomeCopied).split('\n');
        for (int i = 1; i < lines.size(); ++i)
            if (!lines[i].trimmed().isEmpty())
                urls << QUrl::fromEncoded(lines[i].trimmed());
    }
    for (const QUrl& url : urls) {
        // A file gone since the data was made is kept: the operation says it skipped it.
        const std::string path = Platform::LocalPathOfUrl(url);
        if (!path.empty())
            files.push_back(path);
    }
    return files;
}

bool CThumbsBrowser::IsCutData(const QMimeData* data) {
    if (!data)
        return false;
    if (data->hasFormat(kGnomeCopied)) {
        const QByteArray bytes = data->data(kGnomeCopied);
        return bytes.left(bytes.indexOf('\n') < 0 ? bytes.size() : bytes.indexOf('\n')).trimmed() == "cut";
    }
    return data->hasFormat(kKdeCut) && data->data(kKdeCut).trimmed() == "1";
}

void CThumbsInteraction::StartDrag() {
    std::vector<std::string> files;
    GetSelectedFiles(files);
    QWidget* widget = m_pView ? m_pView->Widget() : nullptr;
    if (files.empty() || !widget)
        return;
    QMimeData* data = CreateFilesData(files);
    m_bOwnDrag = true;
    CMyOleDropSource source(&m_browser);
    source.DoDragDrop(widget, data);
    m_bOwnDrag = false;
    m_bOwnDragOver = false;
    m_dropIndex = -1;
    m_dropRow = -1;
    ResetDropGap();
}

Qt::DropAction CThumbsInteraction::DragEnter(const QMimeData* data) {
    if (!data)
        return Qt::IgnoreAction;
    if (m_bOwnDrag)
        return Qt::MoveAction;
    return data->hasUrls() ? Qt::CopyAction : Qt::IgnoreAction;
}

Qt::DropAction CThumbsInteraction::DragOver(const QMimeData* data, QPoint point,
                                            Qt::KeyboardModifiers modifiers) {
    const std::string folder = CurrentFolder();
    if (!data || m_listing.Kind() != CThumbsListing::Location::Folder || folder.empty() ||
        !IsFolder(folder) || !data->hasUrls())
        return Qt::IgnoreAction;
    m_lastDragPoint = point;
    if (m_bOwnDrag) {
        m_bOwnDragOver = true;
        const int count = ItemCount();
        int index = m_layout.HitTest(point, ViewClient().width(), ViewScroll());
        if (index < 0 || index > count)
            index = count;
        if (index != m_dropIndex) {
            RepaintItems({m_dropIndex, index});
            m_dropIndex = index;
        }
        if (m_bDropGapAnimation)
            StepDropGap(index);
    }
    Qt::DropAction action;
    if (modifiers & Qt::ControlModifier) {
        action = Qt::CopyAction;
    } else if (modifiers & Qt::ShiftModifier) {
        action = Qt::MoveAction;
    } else {
        const std::vector<std::string> files = FilesFromData(data);
        action = !files.empty() && IsSameMount(files.front(), folder) ? Qt::MoveAction : Qt::CopyAction;
    }
    return action;
}

void CThumbsInteraction::StepDropGap(int index) {
    const int columns = m_layout.GetColumns(ViewClient().width());
    const int row = index / columns;
    // Slow processors step in larger strides, so the gap opens as soon.
    const int step = m_cpuSpeed > 0 && m_cpuSpeed < 500 ? 5 : 2;
    if (row != m_dropRow) {
        m_dropRow = row;
        m_gapAmplitude = 0;
    }
    m_gapAmplitude = std::min(kGapWidth, m_gapAmplitude + step);
    m_layout.OpenGap(row, index, columns, m_gapAmplitude, step);
    if (m_pView)
        m_pView->Invalidate();
}

void CThumbsInteraction::ResetDropGap() {
    m_layout.CloseGaps();
    m_gapAmplitude = 0;
    if (m_pView)
        m_pView->Invalidate();
}

void CThumbsInteraction::DragLeave() {
    m_bOwnDragOver = false;
    m_lastDragPoint = QPoint(-1000, -1000);
}

void CThumbsInteraction::ReorderOwnItems(const std::vector<std::string>& dropped, int before) {
    m_listing.Reorder(dropped, before);
    m_layout.CloseGaps();
    // The moved files come in unselected.
    {
        CSelection<std::string>::Batch batch(m_selection);
        for (const std::string& path : dropped)
            m_selection.Set(path, false);
    }
    if (m_pView)
        m_pView->Invalidate();
    ItemsChanged(true);
}

bool CThumbsInteraction::Drop(const QMimeData* data, Qt::DropAction action, QPoint point) {
    bool done = false;
    const std::vector<std::string> files = FilesFromData(data);
    if (m_bOwnDrag && m_bOwnDragOver) {
        if (!files.empty()) {
            int before = m_layout.HitTest(point, ViewClient().width(), ViewScroll());
            if (before < 0)
                before = ItemCount();
            ReorderOwnItems(files, before);
            done = true;
        }
    } else if (!files.empty()) {
        const std::string folder = CurrentFolder();
        if (!folder.empty() && IsFolder(folder)) {
            LockItems();
            g_bWorkerGate = 0;
            m_pProgress->Cancel();
            done =
                ShellFileOperation(action == Qt::MoveAction ? FO_MOVE : FO_COPY, files, folder, false, true);
            m_pProgress->ClearCancel();
            g_bWorkerGate = 1;
            UnlockItems();
            // The folder monitor re-reads the folder and brings the thumbnails of
            // files replaced by the drop up to date; without one it is read here.
            if (m_pMonitor)
                m_pMonitor->RequestRescan();
            else
                ReadFolder();
        }
    }
    m_bOwnDrag = false;
    m_bOwnDragOver = false;
    RepaintItems({m_dropIndex});
    m_dropIndex = -1;
    m_dropRow = -1;
    ResetDropGap();
    return done;
}

// ---- clipboard ----

bool CThumbsBrowser::ClipboardHasFiles() {
    if (!OnUiThread())
        return false;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return !FilesFromData(data).empty();
}

void CThumbsInteraction::CopySelection(bool cut) {
    std::vector<std::string> files;
    GetSelectedFiles(files);
    if (files.empty() || !OnUiThread())
        return;
    QGuiApplication::clipboard()->setMimeData(CreateFilesData(files, cut));
    m_cutList = cut ? files : std::vector<std::string>();
    if (m_pView)
        m_pView->Invalidate();
}

bool CThumbsInteraction::Paste() {
    if (!OnUiThread())
        return false;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    const std::vector<std::string> files = FilesFromData(data);
    const std::string folder = CurrentFolder();
    if (files.empty() || folder.empty() || !IsFolder(folder))
        return false;
    const bool cut = IsCutData(data);
    LockItems();
    g_bWorkerGate = 0;
    m_pProgress->Cancel();
    const bool ok = ShellFileOperation(cut ? FO_MOVE : FO_COPY, files, folder, false, true);
    m_pProgress->ClearCancel();
    g_bWorkerGate = 1;
    UnlockItems();
    if (cut && ok) {
        // Cut files are pasted once; the clipboard no longer offers them.
        QGuiApplication::clipboard()->clear();
        m_cutList.clear();
    }
    if (!m_pMonitor)
        ReadFolder();
    return ok;
}

void CThumbsInteraction::UpdateCutList() {
    if (m_cutList.empty() || !OnUiThread())
        return;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasUrls() || CurrentFolder().empty() || !IsCutData(data)) {
        m_cutList.clear();
        return;
    }
    const std::vector<std::string> named = FilesFromData(data);
    const std::set<std::string> onClipboard(named.begin(), named.end());
    std::vector<std::string> kept;
    for (const std::string& path : m_cutList)
        if (Exists(path) && onClipboard.count(path))
            kept.push_back(path);
    m_cutList = std::move(kept);
}

std::vector<std::string> CThumbsInteraction::CutList() const {
    return m_cutList;
}

bool CThumbsInteraction::IsCut(const std::string& path) const {
    return std::find(m_cutList.begin(), m_cutList.end(), path) != m_cutList.end();
}

// ---- undo records ----

std::string CThumbsInteraction::UndoFolder(int level) const {
    return TempPath(level == 0 ? kUndoNewer : kUndoOlder);
}

namespace {

// Moves every file of one folder into another under the same name.
void MoveFolderFiles(const std::string& from, const std::string& to) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError))
            continue;
        std::error_code moveError;
        fs::rename(it->path(), fs::path(to) / it->path().filename(), moveError);
    }
}

}  // namespace

void CThumbsInteraction::RecordUndo(int kind) {
    // The older record gives way; the newer one becomes the older.
    DeleteFolderFiles(UndoFolder(1));
    MoveFolderFiles(UndoFolder(0), UndoFolder(1));
    m_undoDepth = std::min(2, m_undoDepth + 1);
    m_undoKinds[1] = m_undoKinds[0];
    m_undoKinds[0] = kind;
}

void CThumbsInteraction::DropLastUndo() {
    DeleteFolderFiles(UndoFolder(0));
    MoveFolderFiles(UndoFolder(1), UndoFolder(0));
    m_undoDepth = std::max(0, m_undoDepth - 1);
    m_undoKinds[0] = m_undoKinds[1];
    m_undoKinds[1] = 0;
}

void CThumbsInteraction::ForgetUndo() {
    m_undoPaths.clear();
}

#include "CThumbsBrowser.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QMenu>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>

#include "BrowserHost.h"
#include "BrowserSettings.h"
#include "CFolderMonitor.h"
#include "CPopupEdit.h"
#include "CommandIds.h"
#include "FolderFiles.h"
#include "PathParts.h"
#include "ShellNamespace.h"
#include "StringTable.h"

std::mutex g_csPictureLoad;
std::recursive_mutex g_csFolderRead;
std::atomic<int> g_nItemsLockDepth{0};
std::atomic<int> g_nFolderReadDepth{0};
std::atomic<int> g_bWorkerGate{1};

namespace {

enum : unsigned {
    IDS_SIZE_KB = 138,
    IDS_PICTURE_SIZE = 139,
    IDS_SIZE_MB = 140,
    IDS_SIZE_GB = 141,
    IDS_TOTAL_FILES = 0xFB10,
};

constexpr const char* kUndoFolders[4] = {"OVIMGBRSUND1", "OVIMGBRSUND2", "OVIMGBRSUND1CUT",
                                         "OVIMGBRSUND2CUT"};
std::string Format(unsigned id, double value) {
    char text[64];
    std::snprintf(text, sizeof text, Res::LoadStr(id), value);
    return text;
}

// A shown wait cursor, on the user-interface thread only.
class WaitCursor {
public:
    WaitCursor() {
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        m_shown = app && QThread::currentThread() == app->thread();
        if (m_shown)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~WaitCursor() {
        if (m_shown)
            QGuiApplication::restoreOverrideCursor();
    }

private:
    bool m_shown;
};

}  // namespace

QEvent::Type CThumbReadyEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CThumbsBrowser::CThumbsBrowser(CThumbsBuilderThreads& builder) : m_builder(builder) {
    m_builder.AddClient(this);
    m_listing.SetSortMode(BrowserHost().GetProfileInt("BROWSER", "SORT", 7), {});
    m_selection.Listen([this] {
        // Selection changes are the user-interface thread's; the view repaints.
        QCoreApplication* app = QCoreApplication::instance();
        if (m_pView && app && QThread::currentThread() == app->thread())
            m_pView->Invalidate();
    });
    m_tempRoot = CMapStringToObPlus::CacheRoot();
    if (!m_tempRoot.empty() && m_tempRoot.back() != '/')
        m_tempRoot += '/';
    // The per-user cache folder may not exist yet on a fresh account.
    if (!m_tempRoot.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(m_tempRoot, ec);
    }
    for (const char* folder : kUndoFolders)
        ::mkdir(TempPath(folder).c_str(), 0700);
    const bool first = ThumbCacheUsers() == 0;
    try {
        AcquireThumbCache();
    } catch (...) {
        // An unreadable cache is an empty one.
    }
    m_bHoldsCache = true;
    if (first)
        AgeThumbCache(std::time(nullptr));
}

CThumbsBrowser::~CThumbsBrowser() {
    m_selection.DropListeners();
    StopListing();
    m_interaction.Shutdown();
    StopFolderMonitor();
    ReleaseThumbCache();
    m_listing.Replace({});
    for (const char* folder : kUndoFolders)
        DeleteFolderFiles(TempPath(folder));
    BrowserHost().WriteProfileString("FOLDERS", "DEFAULT", CurrentFolder());
    BrowserHost().WriteProfileInt("BROWSER", "SORT", m_listing.SortMode());
    m_builder.RemoveClient(this);
}

std::string CThumbsBrowser::TempPath(const char* name) const {
    return m_tempRoot + name;
}

bool CThumbsBrowser::IsDetailsView() const {
    return g_bThumbsListMode != 0;
}

QSize CThumbsBrowser::GetItemCellSize() const {
    return CPaletteItem::GetCellSize(g_nThumbnailSize, IsDetailsView(), GetListRowWidth());
}

int CThumbsBrowser::GetListRowWidth() const {
    return m_layout.RowWidth();
}

QRect CThumbsBrowser::GetRowCaptionRect(const QRect& row) const {
    const int p0 = CPaletteItem::ListColumn(0, g_nThumbnailSize);
    const int p1 = CPaletteItem::ListColumn(1, g_nThumbnailSize);
    return QRect(row.left() + p0, row.top() + (row.height() - 20) / 2, p1 - p0, 20);
}

bool CThumbsBrowser::LookupItem(const std::string& path, ThumbItemPtr& item) {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    return g_ThumbCache.LookupWithLoad(path, item);
}

std::shared_ptr<CPaletteItem> CThumbsBrowser::NewItem() {
    return std::make_shared<CPaletteItem>();
}

void CThumbsBrowser::OnFilesMoved(const std::vector<std::string>& paths, const std::string& folder) {
    std::string target = folder;
    if (target.empty() || target.back() != '/')
        target += '/';
    for (const std::string& path : paths)
        OnFileRenamed(path, target + FileNameOf(path));
}

std::string CThumbsBrowser::CurrentFolder() const {
    return m_listing.Folder();
}

void CThumbsBrowser::SetCurrentFolder(const std::string& folder) {
    m_listing.SetFolder(folder);
}

std::vector<CItem> CThumbsBrowser::Items() const {
    return m_listing.Items();
}

std::vector<std::string> CThumbsBrowser::Paths() const {
    return m_listing.Paths();
}

int CThumbsBrowser::ItemCount() const {
    return m_listing.Count();
}

CThumbsListing::ThumbLookup CThumbsBrowser::Lookup() {
    return [this](const std::string& path, ThumbItemPtr& item) { return LookupItem(path, item); };
}

void CThumbsBrowser::SetView(IThumbsView* view) {
    std::lock_guard<std::mutex> lock(m_viewLock);
    m_pView = view;
    m_viewTarget = view ? view->EventTarget() : nullptr;
}

void CThumbsBrowser::OnThumbReady(const std::string& path, int) {
    // On a builder thread: the view clears itself here before it goes.
    std::lock_guard<std::mutex> lock(m_viewLock);
    if (m_viewTarget)
        QCoreApplication::postEvent(m_viewTarget, new CThumbReadyEvent(this, path));
}

// ---- reading ----

void CThumbsBrowser::ReadFolder() {
    ReadLocation(false);
}

void CThumbsBrowser::Refresh() {
    ReadLocation(true);
}

void CThumbsBrowser::OpenFolder(const std::string& location) {
    std::lock_guard<std::recursive_mutex> read(g_csFolderRead);
    if (location.size() < 2 || location[1] != ',')
        return;
    const std::string text = location.substr(2);
    if (location[0] == '0') {
        m_listing.SetFolderLocation(text);
        ReadFolder();
    } else if (location[0] == '9') {
        // "name;icon index;folder;folder...": the folders follow the first two fields.
        std::vector<std::string> fields;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(';', start);
            if (end == std::string::npos)
                end = text.size();
            fields.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        std::vector<std::string> folders;
        for (size_t i = 2; i < fields.size(); ++i)
            if (!fields[i].empty())
                folders.push_back(fields[i]);
        m_listing.SetLibraryLocation(text, std::move(folders));
        ReadLocation(false);
    }
}

void CThumbsBrowser::PauseWorker() {
    m_workerGate.Pause();
}

void CThumbsBrowser::ResumeWorker() {
    m_workerGate.Resume();
}

void CThumbsBrowser::CancelWork() {
    PauseWorker();
    ResumeWorker();
}

void CThumbsBrowser::TakeListing(Listed listing, bool rebuild, bool hasFolder) {
    ++g_nFolderReadDepth;
    PauseWorker();
    const std::vector<std::string> paths = m_listing.Replace(std::move(listing));
    m_layout.CloseGaps();
    {
        // The files still there keep their selection.
        const std::set<std::string> listed(paths.begin(), paths.end());
        m_selection.Retain([&](const std::string& path) { return listed.count(path) != 0; });
    }
    if (m_pView) {
        m_pView->UpdateScrollSizes();
        m_pView->Invalidate();
    }
    if (hasFolder) {
        m_builder.ReplaceWork(paths, rebuild);
        UpdateStatus();
    }
    ResumeWorker();
    --g_nFolderReadDepth;
    ItemsChanged();
}

void CThumbsBrowser::ItemsChanged(bool resorted) {
    if (onItemsChanged)
        onItemsChanged(resorted);
}

void CThumbsBrowser::ReadLocation(bool rebuild) {
    const std::string folder = CurrentFolder();
    if (LocationKind() == Location::Library && folder.empty())
        return;
    // A listing running now is older than this read: its list is dropped.
    ++m_listingGeneration;
    UpdateCutList();
    WaitCursor cursor;
    std::lock_guard<std::recursive_mutex> read(g_csFolderRead);
    // Lets a burst of changes settle before the folder is listed.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Listed listing = CThumbsListing::List(m_listing.Sources(), m_listing.SortMode(), m_listing.Descending(),
                                          LocationKind() == Location::Library, Lookup());
    TakeListing(std::move(listing), rebuild, !folder.empty());
}

void CThumbsBrowser::RequestReadFolder(bool rebuild) {
    if (m_bListing) {
        m_bListingAgain = true;
        m_bAgainRebuild = m_bAgainRebuild || rebuild;
        return;
    }
    StartListing(rebuild);
}

void CThumbsBrowser::StartListing(bool rebuild) {
    const std::string folder = CurrentFolder();
    if (LocationKind() == Location::Library && folder.empty())
        return;
    if (m_listingThread.joinable())
        m_listingThread.join();  // it has posted its list already
    UpdateCutList();
    m_bListing = true;
    ++m_listingsStarted;
    const uint64_t generation = ++m_listingGeneration;
    const bool library = LocationKind() == Location::Library;
    m_listingThread = std::thread([this, generation, rebuild, library, sources = m_listing.Sources(),
                                   mode = m_listing.SortMode(), descending = m_listing.Descending(),
                                   hasFolder = !folder.empty(), alive = m_alive] {
        // Lets a burst of changes settle before the folder is listed.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto listing =
            std::make_shared<Listed>(CThumbsListing::List(sources, mode, descending, library, Lookup()));
        QObject* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [this, alive, generation, rebuild, hasFolder, listing] {
                if (*alive)
                    OnListingDone(generation, std::move(*listing), rebuild, hasFolder);
            },
            Qt::QueuedConnection);
    });
}

void CThumbsBrowser::OnListingDone(uint64_t generation, Listed listing, bool rebuild, bool hasFolder) {
    m_bListing = false;
    if (generation == m_listingGeneration) {
        // The sort mode changed while the folder was listed.
        if (listing.mode != m_listing.SortMode())
            CThumbsListing::Sort(listing.items, m_listing.SortMode(), m_listing.Descending(),
                                 LocationKind() == Location::Library, Lookup());
        TakeListing(std::move(listing), rebuild, hasFolder);
    }
    if (m_bListingAgain) {
        const bool again = m_bAgainRebuild;
        m_bListingAgain = false;
        m_bAgainRebuild = false;
        StartListing(again);
    }
}

// ---- sorting ----

void CThumbsBrowser::ReadItemInfo(CItem& item) {
    CThumbsListing::ReadItemInfo(item);
}

int CThumbsBrowser::CompareItems(int mode, const CItem& a, const CItem& b, CThumbsBrowser* browser) {
    return CThumbsListing::Compare(mode, a, b, browser && browser->SortDescending(),
                                   browser ? browser->Lookup() : CThumbsListing::ThumbLookup());
}

void CThumbsBrowser::SetSortMode(int mode) {
    m_listing.SetSortMode(mode, Lookup());
    if (m_pView)
        m_pView->Invalidate();
    // The details list refreshes and takes the new order.
    ItemsChanged(true);
}

// ---- locks ----

void CThumbsBrowser::LockItems() {
    if (g_nItemsLockDepth == 0) {
        // Waits for any thread inside the cache.
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    }
    m_workerGate.SetItemsFree(false);
    ++g_nItemsLockDepth;
}

void CThumbsBrowser::UnlockItems() {
    if (--g_nItemsLockDepth <= 0) {
        g_nItemsLockDepth = 0;
        m_workerGate.SetItemsFree(true);
    }
}

// ---- rescan ----

void CThumbsBrowser::RescanFolder(bool rebuild) {
    const std::string folder = CurrentFolder();
    const bool tellPerFile = !rebuild;
    if (!ShellNamespace::RemovableMountOf(folder).empty())
        rebuild = true;
    m_workerGate.BeginPass();
    const std::time_t started = std::time(nullptr);
    bool folderGone = false;
    for (const std::string& path : Paths()) {
        if (g_bWorkerGate && !m_workerGate.WaitForItems()) {
            m_workerGate.EndPass();
            return;
        }
        CFileStatus status;
        if (!CFile::GetStatus(path, status))
            continue;
        ThumbItemPtr item;
        {
            std::lock_guard<std::mutex> build(g_csThumbBuild);
            {
                std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
                g_ThumbCache.LookupWithLoad(path, item);
                if (item && (item->m_fileTime != status.m_mtime || (rebuild && !item->HasThumbnail()))) {
                    g_ThumbCache.RemoveKey(path);
                    item.reset();
                }
            }
            if (!item) {
                auto fresh = std::dynamic_pointer_cast<CPaletteItemImg>(NewItem());
                bool ok = false;
                try {
                    ok = fresh && fresh->Load(path, false, nullptr) != 0;
                } catch (...) {
                    ok = false;
                }
                if (ok) {
                    fresh->m_fileTime = status.m_mtime;
                    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
                    g_ThumbCache.SetAt(path, fresh);
                    item = fresh;
                } else {
                    CFileStatus folderStatus;
                    if (!CFile::GetStatus(folder, folderStatus)) {
                        SetCurrentFolder({});
                        folderGone = true;
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                        break;
                    }
                }
            }
        }
        if (item) {
            std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
            item->m_lastUse = started;
        }
        if (tellPerFile)
            OnThumbReady(path, 0);
    }
    OnThumbReady({}, 0);
    m_workerGate.EndPass();
    if (folderGone) {
        CFileStatus again;
        if (!CFile::GetStatus(folder, again)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2000));
            BrowserHost().PostMainWindowCommand(CmdId::ReadAgain);
        }
    }
}

// ---- layout ----

int CThumbsBrowser::GetColumns(int clientWidth) const {
    return m_layout.GetColumns(clientWidth);
}

QPoint CThumbsBrowser::GetItemPosition(int index, int clientWidth) const {
    return m_layout.GetItemPosition(index, clientWidth);
}

QRect CThumbsBrowser::GetItemRect(int index, int clientWidth) const {
    return m_layout.GetItemRect(index, clientWidth);
}

QRect CThumbsBrowser::GetCaptionRect(int index, int clientWidth) const {
    return m_layout.GetCaptionRect(index, clientWidth);
}

QRect CThumbsBrowser::GetRowRect(int row, int clientWidth, QPoint scroll) const {
    return m_layout.GetRowRect(row, clientWidth, scroll);
}

int CThumbsBrowser::HitTest(QPoint point, int clientWidth, QPoint scroll) const {
    return m_layout.HitTest(point, clientWidth, scroll);
}

std::string CThumbsBrowser::GetPathAt(QPoint point, int clientWidth, QPoint scroll) const {
    return m_listing.PathAt(HitTest(point, clientWidth, scroll));
}

QPoint CThumbsBrowser::EnsureVisible(int index, QSize client, QPoint scroll) const {
    return m_layout.EnsureVisible(index, client, scroll);
}

QSize CThumbsBrowser::ContentSize(int clientWidth) const {
    return m_layout.ContentSize(clientWidth);
}

// ---- drawing ----

void CThumbsBrowser::DrawPane(QPainter& painter, QSize client, QPoint scroll) {
    m_painter.DrawPane(painter, client, scroll);
}

void CThumbsBrowser::DrawItem(QPainter& painter, int index, int clientWidth, QPoint scroll) {
    m_painter.DrawItem(painter, index, clientWidth, scroll);
}

void CThumbsBrowser::DrawDetailsHeader(QPainter& painter, int clientWidth) {
    m_painter.DrawDetailsHeader(painter, clientWidth);
}

// ---- selection ----

void CThumbsBrowser::GetSelectedFiles(std::vector<std::string>& files) const {
    for (const std::string& path : m_listing.Paths())
        if (m_selection.IsSelected(path))
            files.push_back(path);
}

void CThumbsBrowser::GetSelectionRange(int& first, int& last) const {
    first = last = -1;
    const std::vector<std::string> paths = m_listing.Paths();
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!m_selection.IsSelected(paths[i]))
            continue;
        if (first < 0)
            first = static_cast<int>(i);
        last = static_cast<int>(i);
    }
}

bool CThumbsBrowser::IsSelected(int index) const {
    const std::string path = m_listing.PathAt(index);
    return !path.empty() && m_selection.IsSelected(path);
}

void CThumbsBrowser::DeselectAll() {
    DeselectAllExcept(-1);
}

void CThumbsBrowser::DeselectAllExcept(int index) {
    const std::string kept = m_listing.PathAt(index);
    m_selection.Retain([&](const std::string& path) { return !kept.empty() && path == kept; });
}

void CThumbsBrowser::SelectAll() {
    m_selection.Assign(m_listing.Paths());
    if (m_pView)
        m_pView->Invalidate();
    if (onSelectionChanged)
        onSelectionChanged();
}

void CThumbsBrowser::SetSelected(int index, bool selected) {
    const std::string path = m_listing.PathAt(index);
    if (!path.empty())
        m_selection.Set(path, selected);
}

// ---- status ----

std::string CThumbsBrowser::SizeText(double bytes) {
    const double kb = bytes / 1024.0;
    if (kb < 1000.0)
        return Format(IDS_SIZE_KB, kb);
    const double mb = kb / 1024.0;
    if (mb < 1000.0)
        return Format(IDS_SIZE_MB, mb);
    return Format(IDS_SIZE_GB, mb / 1024.0);
}

std::vector<std::string> CThumbsBrowser::StatusTexts() {
    std::vector<std::string> selected;
    GetSelectedFiles(selected);
    std::vector<std::string> texts(6);
    char count[64];
    std::snprintf(count, sizeof count, Res::LoadStr(IDS_TOTAL_FILES),
                  selected.empty() ? ItemCount() : static_cast<int>(selected.size()));
    texts[0] = count;
    if (selected.empty()) {
        texts[1] = SizeText(TotalSize());
        return texts;
    }
    if (selected.size() > 1) {
        double sum = 0;
        for (const std::string& path : selected)
            sum += static_cast<double>(GetFileSizeByName(path));
        texts[1] = SizeText(sum);
    }
    const std::string& path = selected.front();
    CFileStatus status;
    if (CFile::GetStatus(path, status)) {
        texts[2] = SizeText(static_cast<double>(status.m_size));
        texts[3] = QLocale::system()
                       .toString(QDateTime::fromSecsSinceEpoch(status.m_mtime), QLocale::ShortFormat)
                       .toStdString();
    }
    texts[4] = FileNameOf(path);
    ThumbItemPtr item;
    if (LookupItem(path, item) && item && item->m_sourceWidth > 0) {
        char size[64];
        std::snprintf(size, sizeof size, Res::LoadStr(IDS_PICTURE_SIZE), item->m_sourceWidth,
                      item->m_sourceHeight, item->m_bitsPerPixel);
        texts[5] = size;
    }
    return texts;
}

void CThumbsBrowser::UpdateStatus() {
    BrowserHost().SetStatusPanes(StatusTexts(), 1);
    if (QGuiApplication::instance() && qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
        QGuiApplication::mouseButtons() != Qt::NoButton)
        return;
    std::vector<std::string> selected;
    GetSelectedFiles(selected);
    if (!selected.empty())
        RequestPicture(selected.front());
}

// ---- picture ----

void CThumbsBrowser::RequestPicture(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(g_csPictureLoad);
        CFileStatus status;
        const bool same = path == m_loadedPicture && path == m_requestedPicture &&
                          CFile::GetStatus(path, status) && status.m_ctime == m_pictureStatus.m_ctime &&
                          status.m_mtime == m_pictureStatus.m_mtime &&
                          status.m_size == m_pictureStatus.m_size;
        if (same)
            return;
        m_requestedPicture = path;
        m_picture.reset();
        // The picture is gone, so it no longer counts as loaded.
        m_loadedPicture.clear();
    }
    CancelImageRead();
}

std::shared_ptr<QImage> CThumbsBrowser::LoadedPicture() const {
    std::lock_guard<std::mutex> lock(g_csPictureLoad);
    return m_picture;
}

std::string CThumbsBrowser::RequestedPicture() const {
    std::lock_guard<std::mutex> lock(g_csPictureLoad);
    return m_requestedPicture;
}

std::string CThumbsBrowser::LoadedPicturePath() const {
    std::lock_guard<std::mutex> lock(g_csPictureLoad);
    return m_loadedPicture;
}

// ---- cache ----

void CThumbsBrowser::AgeThumbCache(std::time_t now) {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    auto drop = [now](int days) {
        for (const std::string& path : g_ThumbCache.Keys()) {
            ThumbItemPtr item;
            g_ThumbCache.Lookup(path, item);
            struct stat st;
            const bool gone = ::stat(path.c_str(), &st) != 0;
            const int64_t age = item ? (static_cast<int64_t>(now) - item->m_lastUse) / 86400 : 0;
            if (gone || age > days)
                g_ThumbCache.RemoveKey(path);
        }
    };
    drop(30);
    if (g_ThumbCache.GetCount() > 1800)
        drop(10);
}

void CThumbsBrowser::ReleaseThumbCache() {
    if (!m_bHoldsCache)
        return;
    m_bHoldsCache = false;
    PauseWorker();
    ::ReleaseThumbCache();
    ResumeWorker();
}

void CThumbsBrowser::StopFolderMonitor() {
    m_pMonitor.reset();
}

void CThumbsBrowser::StopListing() {
    if (m_listingThread.joinable())
        m_listingThread.join();
    *m_alive = false;
    m_bListing = m_bListingAgain = false;
}

void CThumbsBrowser::StartFolderMonitor() {
    if (m_pMonitor)
        return;
    m_pMonitor = std::make_unique<CFolderMonitor>();
    m_pMonitor->Start();
}

// ---- interaction ----

QSize CThumbsBrowser::ViewClient() const {
    return m_pView ? m_pView->ClientSize() : QSize();
}

QPoint CThumbsBrowser::ViewScroll() const {
    return m_pView ? m_pView->ScrollPosition() : QPoint();
}

bool CThumbsBrowser::OnKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    return m_interaction.OnKeyDown(key, modifiers);
}

void CThumbsBrowser::OnLButtonDown(QPoint point, Qt::KeyboardModifiers modifiers) {
    m_interaction.OnLButtonDown(point, modifiers);
}

void CThumbsBrowser::OnMouseMove(QPoint point, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    m_interaction.OnMouseMove(point, buttons, modifiers);
}

void CThumbsBrowser::OnLButtonUp(QPoint point, Qt::KeyboardModifiers modifiers) {
    m_interaction.OnLButtonUp(point, modifiers);
}

void CThumbsBrowser::OnLButtonDblClk(QPoint point) {
    m_interaction.OnLButtonDblClk(point);
}

void CThumbsBrowser::OnRButtonDown(QPoint point, QPoint globalPos) {
    m_interaction.OnRButtonDown(point, globalPos);
}

std::unique_ptr<QMenu> CThumbsBrowser::CreateContextMenu(QWidget* parent) {
    return m_interaction.CreateContextMenu(parent);
}

void CThumbsBrowser::OnTimer(int id) {
    m_interaction.OnTimer(id);
}

QRect CThumbsBrowser::BandRect() const {
    return m_interaction.BandRect();
}

void CThumbsBrowser::DrawBand(QPainter& painter) const {
    m_painter.DrawBand(painter);
}

void CThumbsBrowser::SelectItem(int index) {
    m_interaction.SelectItem(index);
}

CPopupEdit* CThumbsBrowser::BeginRename(int index) {
    return m_interaction.BeginRename(index);
}

CPopupEdit* CThumbsBrowser::PopupEdit() const {
    return m_interaction.PopupEdit();
}

bool CThumbsBrowser::RenameFile(const std::string& path, const std::string& newTitle) {
    return m_interaction.RenameFile(path, newTitle);
}

void CThumbsBrowser::StartDrag() {
    m_interaction.StartDrag();
}

Qt::DropAction CThumbsBrowser::DragEnter(const QMimeData* data) {
    return m_interaction.DragEnter(data);
}

Qt::DropAction CThumbsBrowser::DragOver(const QMimeData* data, QPoint point,
                                        Qt::KeyboardModifiers modifiers) {
    return m_interaction.DragOver(data, point, modifiers);
}

void CThumbsBrowser::DragLeave() {
    m_interaction.DragLeave();
}

bool CThumbsBrowser::Drop(const QMimeData* data, Qt::DropAction action, QPoint point) {
    return m_interaction.Drop(data, action, point);
}

void CThumbsBrowser::CopySelection(bool cut) {
    m_interaction.CopySelection(cut);
}

bool CThumbsBrowser::Paste() {
    return m_interaction.Paste();
}

void CThumbsBrowser::UpdateCutList() {
    m_interaction.UpdateCutList();
}

std::vector<std::string> CThumbsBrowser::CutList() const {
    return m_interaction.CutList();
}

bool CThumbsBrowser::IsCut(const std::string& path) const {
    return m_interaction.IsCut(path);
}

void CThumbsBrowser::RecordUndo(int kind) {
    m_interaction.RecordUndo(kind);
}

void CThumbsBrowser::DropLastUndo() {
    m_interaction.DropLastUndo();
}

void CThumbsBrowser::ForgetUndo() {
    m_interaction.ForgetUndo();
}

std::string CThumbsBrowser::UndoFolder(int level) const {
    return m_interaction.UndoFolder(level);
}

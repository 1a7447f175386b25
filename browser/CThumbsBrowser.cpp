#include "CThumbsBrowser.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QPainter>
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
#include "CThumbsBrowserProgress.h"
#include "CpuSpeed.h"
#include "FileCopy.h"
#include "FolderFiles.h"
#include "GuiFont.h"
#include "PathParts.h"
#include "PhotoDateAndDescription.h"
#include "ShellNamespace.h"
#include "StringTable.h"

std::mutex g_csPictureLoad;
std::recursive_mutex g_csFolderRead;
std::atomic<int> g_nItemsLockDepth{0};
std::atomic<int> g_nFolderReadDepth{0};
std::atomic<int> g_bWorkerGate{1};
std::atomic<bool> g_bSortDescending{false};

namespace {

enum : unsigned {
    IDS_SIZE_KB = 138,
    IDS_PICTURE_SIZE = 139,
    IDS_SIZE_MB = 140,
    IDS_SIZE_GB = 141,
    IDS_TOTAL_FILES = 0xFB10,
    IDS_HEADER_PICTURE = 0xFB11,
};

constexpr const char* kUndoFolders[4] = {"OVIMGBRSUND1", "OVIMGBRSUND2", "OVIMGBRSUND1CUT",
                                         "OVIMGBRSUND2CUT"};
constexpr int kMinFileBytes = 16;

template <class T>
int Compare(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

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

CThumbsBrowser::CThumbsBrowser(CThumbsBuilderThreads& builder)
    : m_builder(builder), m_pProgress(std::make_unique<CThumbsBrowserProgress>()) {
    m_builder.AddClient(this);
    m_nSortMode = std::clamp(BrowserHost().GetProfileInt("BROWSER", "SORT", 7), 0, 7);
    MeasureCpuSpeed(m_cpuSpeed);
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
    m_itemsFree.SetEvent();
    m_stopRequested.ResetEvent();
    m_stopAcknowledged.SetEvent();
}

CThumbsBrowser::~CThumbsBrowser() {
    StopListing();
    KillTimer();
    delete m_timerHost;
    // An open editor must not commit into a browser half destroyed.
    if (auto* edit = qobject_cast<CPopupEdit*>(m_popupEdit.data())) {
        edit->Detach();
        delete edit->parentWidget();
    }
    StopFolderMonitor();
    ReleaseThumbCache();
    {
        std::lock_guard<std::mutex> lock(m_itemsLock);
        m_items.clear();
    }
    for (const char* folder : kUndoFolders)
        DeleteFolderFiles(TempPath(folder));
    BrowserHost().WriteProfileString("FOLDERS", "DEFAULT", CurrentFolder());
    BrowserHost().WriteProfileInt("BROWSER", "SORT", m_nSortMode);
    m_builder.RemoveClient(this);
}

std::string CThumbsBrowser::TempPath(const char* name) const {
    return m_tempRoot + name;
}

bool CThumbsBrowser::IsDetailsView() const {
    return g_bBrowserDetails;
}

QSize CThumbsBrowser::GetItemCellSize() const {
    return CPaletteItem::GetCellSize(g_nThumbnailSize, IsDetailsView());
}

int CThumbsBrowser::GetListRowWidth() const {
    return g_nListRowWidth;
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
    std::lock_guard<std::mutex> lock(m_folderLock);
    return m_folder;
}

void CThumbsBrowser::SetCurrentFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(m_folderLock);
    m_folder = folder;
}

std::vector<CItem> CThumbsBrowser::Items() const {
    std::lock_guard<std::mutex> lock(m_itemsLock);
    return m_items;
}

std::vector<std::string> CThumbsBrowser::Paths() const {
    std::lock_guard<std::mutex> lock(m_itemsLock);
    return m_paths;
}

int CThumbsBrowser::ItemCount() const {
    std::lock_guard<std::mutex> lock(m_itemsLock);
    return static_cast<int>(m_items.size());
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
        m_location = Location::Folder;
        m_libraryFolders.clear();
        SetCurrentFolder(text);
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
        m_location = Location::Library;
        m_libraryFolders = std::move(folders);
        SetCurrentFolder(text);
        ReadLocation(false);
    }
}

void CThumbsBrowser::PauseWorker() {
    m_itemsFree.ResetEvent();
    m_stopRequested.SetEvent();
    m_stopAcknowledged.Wait();
    m_stopAcknowledged.SetEvent();
}

void CThumbsBrowser::ResumeWorker() {
    m_itemsFree.SetEvent();
    m_stopRequested.ResetEvent();
}

void CThumbsBrowser::CancelWork() {
    PauseWorker();
    ResumeWorker();
}

std::vector<std::string> CThumbsBrowser::ReadSources() const {
    const std::string folder = CurrentFolder();
    if (folder.empty())
        return {};
    return m_location == Location::Library ? m_libraryFolders : std::vector<std::string>{folder};
}

CThumbsBrowser::Listing CThumbsBrowser::ListLocation(const std::vector<std::string>& sources, int mode,
                                                     bool library, CThumbsBrowser* browser) {
    Listing listing;
    listing.mode = mode;
    for (std::string source : sources) {
        if (source.size() > 1 && source.back() == '/')
            source.pop_back();
        DIR* dir = ::opendir(source.c_str());
        if (!dir)
            continue;  // an unreadable folder lists nothing
        const int dfd = ::dirfd(dir);
        const std::string prefix = source == "/" ? "/" : source + "/";
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_type == DT_DIR)
                continue;
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || IsCopyTemporary(name))
                continue;
            const std::string path = prefix + name;
            if (!BrowserHost().IsReadableImageFile(path))
                continue;
            struct stat st;
            if (::fstatat(dfd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode) ||
                st.st_size < kMinFileBytes)
                continue;
            CItem item;
            item.path = path;
            item.size = static_cast<double>(st.st_size);
            // Brings the folder's stored thumbnails into the cache.
            ThumbItemPtr cached;
            if (browser)
                browser->LookupItem(path, cached);
            listing.total += item.size;
            listing.items.push_back(std::move(item));
        }
        ::closedir(dir);
    }
    SortList(listing.items, mode, library, browser);
    return listing;
}

void CThumbsBrowser::TakeListing(Listing listing, bool rebuild, bool hasFolder) {
    ++g_nFolderReadDepth;
    PauseWorker();
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> lock(m_itemsLock);
        // The files still there keep their selection.
        std::set<std::string> selected;
        for (const CItem& item : m_items)
            if (item.selected)
                selected.insert(item.path);
        for (CItem& item : listing.items)
            item.selected = selected.count(item.path) ? 1 : 0;
        m_items = std::move(listing.items);
        m_offsets.assign(m_items.size(), 0);
        m_paths.clear();
        m_paths.reserve(m_items.size());
        for (const CItem& item : m_items)
            m_paths.push_back(item.path);
        paths = m_paths;
    }
    m_bManyFiles = paths.size() > static_cast<size_t>(kManyFiles);
    m_totalSize = listing.total;
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
    if (m_location == Location::Library && folder.empty())
        return;
    // A listing running now is older than this read: its list is dropped.
    ++m_listingGeneration;
    UpdateCutList();
    WaitCursor cursor;
    std::lock_guard<std::recursive_mutex> read(g_csFolderRead);
    // Lets a burst of changes settle before the folder is listed.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Listing listing = ListLocation(ReadSources(), m_nSortMode, m_location == Location::Library, this);
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
    if (m_location == Location::Library && folder.empty())
        return;
    if (m_listingThread.joinable())
        m_listingThread.join();  // it has posted its list already
    UpdateCutList();
    m_bListing = true;
    ++m_listingsStarted;
    const uint64_t generation = ++m_listingGeneration;
    const bool library = m_location == Location::Library;
    m_listingThread = std::thread([this, generation, rebuild, library, sources = ReadSources(),
                                   mode = m_nSortMode, hasFolder = !folder.empty(), alive = m_alive] {
        // Lets a burst of changes settle before the folder is listed.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto listing = std::make_shared<Listing>(ListLocation(sources, mode, library, this));
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

void CThumbsBrowser::OnListingDone(uint64_t generation, Listing listing, bool rebuild, bool hasFolder) {
    m_bListing = false;
    if (generation == m_listingGeneration) {
        // The sort mode changed while the folder was listed.
        if (listing.mode != m_nSortMode)
            SortList(listing.items, m_nSortMode, m_location == Location::Library, this);
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
    if (item.infoRead)
        return;
    CFileStatus status;
    if (CFile::GetStatus(item.path, status)) {
        item.created = status.m_ctime;
        item.written = status.m_mtime;
        item.accessed = status.m_atime;
        item.size = static_cast<double>(status.m_size);
    }
    item.infoRead = 1;
}

int CThumbsBrowser::CompareItems(int mode, const CItem& a, const CItem& b, CThumbsBrowser* browser) {
    auto byPath = [&] { return CompareNoCase(a.path, b.path); };
    auto byName = [&] { return CompareNoCase(FileNameOf(a.path), FileNameOf(b.path)); };
    int result = 0;
    switch (mode) {
        case 0:
            result = byName();
            break;
        case 1:
        case 2:
        case 6:
            result = mode == 1   ? Compare(a.created, b.created)
                     : mode == 2 ? Compare(a.written, b.written)
                                 : Compare(a.size, b.size);
            if (result == 0)
                result = byPath();
            break;
        case 3: {
            // reserved holds the picture's date, read for all items before sorting
            result = Compare(a.reserved, b.reserved);
            if (result == 0)
                result = byName();
            break;
        }
        case 4:
            result = CompareNoCase(ExtensionOf(a.path), ExtensionOf(b.path));
            if (result == 0)
                result = byPath();
            break;
        case 5: {
            auto key = [browser](const CItem& item) -> uint32_t {
                ThumbItemPtr cached;
                if (!browser || !browser->LookupItem(item.path, cached) || !cached)
                    return 0;
                return (static_cast<uint32_t>(cached->m_sourceWidth & 0xFFFF) << 16) |
                       static_cast<uint32_t>(cached->m_sourceHeight & 0xFFFF);
            };
            result = Compare(key(a), key(b));
            break;
        }
        case 7: {
            const std::string ta = TitleOf(a.path), tb = TitleOf(b.path);
            result = CompareNoCase(ta.size() > 4 ? ta.substr(4) : std::string(),
                                   tb.size() > 4 ? tb.substr(4) : std::string());
            if (result == 0)
                result = byPath();
            break;
        }
        default:
            break;
    }
    return g_bSortDescending ? -result : result;
}

void CThumbsBrowser::SortList(std::vector<CItem>& items, int mode, bool listing, CThumbsBrowser* browser) {
    // A folder keeps its listing order for the picture date; asked for it
    // outside a listing, the names decide.
    if (mode == 3 && !listing)
        return;
    if (mode == 1 || mode == 2 || mode == 6)
        for (CItem& item : items)
            ReadItemInfo(item);
    if (mode == 3) {
        for (CItem& item : items) {
            std::time_t when = 0;
            GetExifDateTime(item.path, when);
            item.reserved = static_cast<int>(when);
        }
    }
    std::stable_sort(items.begin(), items.end(),
                     [&](const CItem& a, const CItem& b) { return CompareItems(mode, a, b, browser) < 0; });
    if (mode == 3)
        for (CItem& item : items)
            item.reserved = 0;
}

void CThumbsBrowser::SortItems(bool listing) {
    std::lock_guard<std::mutex> lock(m_itemsLock);
    SortList(m_items, m_nSortMode, listing, this);
}

void CThumbsBrowser::SetSortMode(int mode) {
    m_nSortMode = std::clamp(mode, 0, 7);
    if (m_nSortMode == 3) {
        std::lock_guard<std::mutex> lock(m_itemsLock);
        std::stable_sort(m_items.begin(), m_items.end(),
                         [&](const CItem& a, const CItem& b) { return CompareItems(0, a, b, this) < 0; });
    } else {
        SortItems(true);
    }
    {
        std::lock_guard<std::mutex> lock(m_itemsLock);
        m_paths.clear();
        for (const CItem& item : m_items)
            m_paths.push_back(item.path);
    }
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
    m_itemsFree.ResetEvent();
    ++g_nItemsLockDepth;
}

void CThumbsBrowser::UnlockItems() {
    if (--g_nItemsLockDepth <= 0) {
        g_nItemsLockDepth = 0;
        m_itemsFree.SetEvent();
    }
}

// ---- rescan ----

void CThumbsBrowser::RescanFolder(bool rebuild) {
    const std::string folder = CurrentFolder();
    const bool tellPerFile = !rebuild;
    if (!ShellNamespace::RemovableMountOf(folder).empty())
        rebuild = true;
    m_stopAcknowledged.ResetEvent();
    const std::time_t started = std::time(nullptr);
    bool folderGone = false;
    for (const std::string& path : Paths()) {
        if (g_bWorkerGate) {
            if (CEvent::WaitAny({&m_itemsFree, &m_stopRequested}) == 1) {
                m_stopAcknowledged.SetEvent();
                return;
            }
            // Free stays free for the next file.
            m_itemsFree.SetEvent();
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
    m_stopAcknowledged.SetEvent();
    if (folderGone) {
        CFileStatus again;
        if (!CFile::GetStatus(folder, again)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2000));
            BrowserHost().PostMainWindowCommand(32788);
        }
    }
}

// ---- layout ----

int CThumbsBrowser::GetColumns(int clientWidth) const {
    const QSize cell = GetItemCellSize();
    return std::max(1, cell.width() > 0 ? clientWidth / cell.width() : 1);
}

QPoint CThumbsBrowser::GetItemPosition(int index, int clientWidth) const {
    const QSize cell = GetItemCellSize();
    const int count = ItemCount();
    const int columns = GetColumns(clientWidth);
    const int i = std::min(index, std::max(0, count - 1));
    const int row = i / columns;
    const int column = i - row * columns;
    int x = clientWidth * column / columns + (clientWidth / columns - cell.width()) / 2;
    int y = cell.height() * row;
    if (IsDetailsView() || index < 0) {
        y += kListTopMargin;
    } else {
        std::lock_guard<std::mutex> lock(m_itemsLock);
        if (i >= 0 && static_cast<size_t>(i) < m_offsets.size())
            x += m_offsets[static_cast<size_t>(i)];
    }
    return {x, y};
}

QRect CThumbsBrowser::GetItemRect(int index, int clientWidth) const {
    return QRect(GetItemPosition(index, clientWidth), GetItemCellSize());
}

QRect CThumbsBrowser::GetCaptionRect(int index, int clientWidth) const {
    const QRect cell = GetItemRect(index, clientWidth);
    if (IsDetailsView())
        return GetRowCaptionRect(cell);
    return QRect(cell.left(), cell.bottom() + 1 - 20, cell.width(), 20);
}

QRect CThumbsBrowser::GetRowRect(int row, int clientWidth, QPoint scroll) const {
    const QSize cell = GetItemCellSize();
    const int top = row * cell.height() + (IsDetailsView() ? kListTopMargin : 0) - scroll.y();
    return QRect(0, top, clientWidth, cell.height());
}

int CThumbsBrowser::HitTest(QPoint point, int clientWidth, QPoint scroll) const {
    if (IsDetailsView() && point.y() < kListTopMargin)
        return -1;
    const QPoint content = point + scroll;
    const int count = ItemCount();
    for (int i = 0; i < count; ++i)
        if (GetItemRect(i, clientWidth).contains(content))
            return i;
    return -1;
}

std::string CThumbsBrowser::GetPathAt(QPoint point, int clientWidth, QPoint scroll) const {
    const int index = HitTest(point, clientWidth, scroll);
    std::lock_guard<std::mutex> lock(m_itemsLock);
    return index >= 0 && static_cast<size_t>(index) < m_items.size() ? m_items[index].path : std::string();
}

QPoint CThumbsBrowser::EnsureVisible(int index, QSize client, QPoint scroll) const {
    if (index < 0 || index >= ItemCount())
        return scroll;
    const QRect rect = GetItemRect(index, client.width());
    QPoint result = scroll;
    if (rect.top() < result.y())
        result.setY(rect.top() - (IsDetailsView() ? kListTopMargin : 0));
    else if (rect.bottom() >= result.y() + client.height())
        result.setY(rect.bottom() + 1 - client.height());
    result.setY(std::max(0, result.y()));
    return result;
}

QSize CThumbsBrowser::ContentSize(int clientWidth) const {
    const int count = ItemCount();
    const QSize cell = GetItemCellSize();
    const int columns = GetColumns(clientWidth);
    const int rows = (count + columns - 1) / columns;
    return QSize(std::max(clientWidth, cell.width()),
                 rows * cell.height() + (IsDetailsView() ? kListTopMargin : 0));
}

// ---- drawing ----

void CThumbsBrowser::DrawPane(QPainter& painter, QSize client, QPoint scroll) {
    const QSize cell = GetItemCellSize();
    const int columns = GetColumns(client.width());
    const int count = ItemCount();
    const int top = std::max(0, scroll.y() - (IsDetailsView() ? kListTopMargin : 0));
    const int first = std::max(0, top / std::max(1, cell.height()) * columns);
    const int last =
        std::min(count - 1, ((scroll.y() + client.height()) / std::max(1, cell.height()) + 1) * columns);
    if (IsDetailsView())
        DrawDetailsHeader(painter, client.width());
    if (m_bManyFiles) {
        std::vector<std::string> missing;
        const std::vector<std::string> paths = Paths();
        {
            std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
            for (int i = first; i <= last && static_cast<size_t>(i) < paths.size(); ++i) {
                ThumbItemPtr item;
                if (!g_ThumbCache.Lookup(paths[i], item))
                    missing.insert(missing.begin(), paths[i]);
            }
        }
        if (!missing.empty())
            m_builder.Prioritize(missing);
    }
    for (int i = first; i <= last; ++i)
        DrawItem(painter, i, client.width(), scroll);
    DrawBand(painter);
}

void CThumbsBrowser::DrawItem(QPainter& painter, int index, int clientWidth, QPoint scroll) {
    CItem item;
    {
        std::lock_guard<std::mutex> lock(m_itemsLock);
        if (index < 0 || static_cast<size_t>(index) >= m_items.size())
            return;
        item = m_items[index];
    }
    const QRect cell = GetItemRect(index, clientWidth).translated(-scroll);
    if (!painter.clipBoundingRect().isEmpty() &&
        !cell.adjusted(-1, -1, 1, 1).intersects(painter.clipBoundingRect().toAlignedRect()))
        return;
    const bool cut = std::find(m_cutList.begin(), m_cutList.end(), item.path) != m_cutList.end();
    {
        // Held across look-up and drawing: a builder thread may replace the entry.
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        ThumbItemPtr cached;
        if (g_ThumbCache.Lookup(item.path, cached) && cached) {
            cached->Draw(painter, cell.topLeft(), item.path, item.selected != 0, cut, m_frames);
            return;
        }
    }
    std::shared_ptr<CPaletteItem> placeholder = NewItem();
    placeholder->Draw(painter, cell.topLeft(), item.path, item.selected != 0, cut, m_frames);
}

void CThumbsBrowser::DrawDetailsHeader(QPainter& painter, int clientWidth) {
    const int zoom = g_nThumbnailSize;
    const QRect band(0, 0, clientWidth, kListTopMargin);
    painter.save();
    painter.fillRect(band, g_BrowserColours.detailsTab);
    painter.setPen(g_BrowserColours.detailsSeparator);
    painter.drawRect(band.adjusted(0, 0, -1, -1));
    int bounds[5];
    for (int i = 0; i < 4; ++i) {
        bounds[i] = CPaletteItem::ListColumn(i, zoom);
        painter.drawLine(bounds[i], band.top(), bounds[i], band.bottom());
    }
    bounds[4] = std::max(bounds[3] + 220, GetListRowWidth());
    QFont font(GetDefaultGuiFontName());
    font.setPointSize(8);
    painter.setFont(font);
    painter.setPen(Qt::black);
    int left = 0;
    for (int i = 0; i < 5; ++i) {
        const QRect column(left, band.top(), bounds[i] - left, band.height());
        painter.drawText(column, Qt::AlignCenter | Qt::TextSingleLine,
                         QString::fromUtf8(Res::LoadStr(IDS_HEADER_PICTURE + i)));
        left = bounds[i];
    }
    painter.restore();
}

// ---- selection ----

void CThumbsBrowser::GetSelectedFiles(std::vector<std::string>& files) const {
    std::lock_guard<std::mutex> lock(m_itemsLock);
    for (const CItem& item : m_items)
        if (item.selected)
            files.push_back(item.path);
}

void CThumbsBrowser::GetSelectionRange(int& first, int& last) const {
    first = last = -1;
    std::lock_guard<std::mutex> lock(m_itemsLock);
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (!m_items[i].selected)
            continue;
        if (first < 0)
            first = static_cast<int>(i);
        last = static_cast<int>(i);
    }
}

void CThumbsBrowser::DeselectAll() {
    DeselectAllExcept(-1);
}

void CThumbsBrowser::DeselectAllExcept(int index) {
    std::lock_guard<std::mutex> lock(m_itemsLock);
    for (size_t i = 0; i < m_items.size(); ++i)
        if (static_cast<int>(i) != index)
            m_items[i].selected = 0;
}

void CThumbsBrowser::SelectAll() {
    {
        std::lock_guard<std::mutex> lock(m_itemsLock);
        for (CItem& item : m_items)
            item.selected = 1;
    }
    if (m_pView)
        m_pView->Invalidate();
    if (onSelectionChanged)
        onSelectionChanged();
}

void CThumbsBrowser::SetSelected(int index, bool selected) {
    std::lock_guard<std::mutex> lock(m_itemsLock);
    if (index >= 0 && static_cast<size_t>(index) < m_items.size())
        m_items[index].selected = selected ? 1 : 0;
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
        texts[1] = SizeText(m_totalSize);
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

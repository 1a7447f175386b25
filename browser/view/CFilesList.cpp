#include "CFilesList.h"

#include <sys/stat.h>

#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QMimeData>

#include <algorithm>
#include <cstdio>
#include <map>

#include "CPopupEdit.h"
#include "CThumbsBrowser.h"
#include "PathParts.h"
#include "StringTable.h"

namespace {

enum : unsigned {
    IDS_PICTURE_SIZE = 139,
    IDS_SIZE_KB_WHOLE = 184,
    IDS_COLUMN_NAME = 189,
};
constexpr int kColumns = 4;
constexpr int kColumnWidth = 150;

std::string LowerExtension(const std::string& path) {
    std::string ext = ExtensionOf(path);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

template <class T>
int Compare(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// The shell's small icon of a file, one per file type.
QIcon IconOf(const std::string& path) {
    static std::map<std::string, QIcon> icons;
    const std::string ext = LowerExtension(path);
    auto it = icons.find(ext);
    if (it == icons.end()) {
        static QFileIconProvider provider;
        it = icons.emplace(ext, provider.icon(QFileInfo(QString::fromStdString(path)))).first;
    }
    return it->second;
}

}  // namespace

// ---- model ----

int CFilesListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CFilesListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant CFilesListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()))
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
            case 0:
                return row.name;
            case 1:
                return row.imageSize;
            case 2:
                return row.fileSize;
            case 3:
                // Formatted when shown: a refill of thousands of rows stays quick.
                return row.written ? QLocale::system().toString(QDateTime::fromSecsSinceEpoch(row.written),
                                                                QLocale::ShortFormat)
                                   : QString();
        }
    } else if (role == Qt::EditRole && index.column() == 0) {
        // The name is edited without folder and extension.
        return QString::fromStdString(TitleOf(row.path));
    } else if (role == Qt::DecorationRole && index.column() == 0) {
        return IconOf(row.path);
    } else if (role == Qt::ToolTipRole && index.column() == 0) {
        return QString::fromStdString(row.path);
    }
    return {};
}

QVariant CFilesListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumns)
        return QString::fromUtf8(Res::LoadStr(IDS_COLUMN_NAME + static_cast<unsigned>(section)));
    return {};
}

Qt::ItemFlags CFilesListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == 0)
        result |= Qt::ItemIsEditable;
    return result;
}

bool CFilesListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != 0 || !m_pBrowser ||
        index.row() >= static_cast<int>(m_rows.size()))
        return false;
    const std::string text = value.toString().toStdString();
    // A cancelled edit, or the old name unchanged, renames nothing; another
    // case is another name.
    const std::string old = m_rows[static_cast<size_t>(index.row())].path;
    if (text.empty() || text == TitleOf(old))
        return false;
    const size_t slash = old.find_last_of('/');
    const std::string name = FileNameOf(old);
    const size_t dot = name.find_last_of('.');
    const std::string renamed = (slash == std::string::npos ? std::string() : old.substr(0, slash + 1)) +
                                text +
                                (dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot));
    if (!m_pBrowser->RenameFile(old, text))
        return false;
    // The browser's change may have refilled the rows already.
    const int at = RowOf(old);
    if (at >= 0) {
        Row& row = m_rows[static_cast<size_t>(at)];
        row.path = renamed;
        row.name = QString::fromStdString(FileNameOf(renamed));
        emit dataChanged(this->index(at, 0), this->index(at, kColumns - 1));
    }
    return true;
}

QStringList CFilesListModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* CFilesListModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<int> rows;
    for (const QModelIndex& index : indexes)
        if (index.isValid() && std::find(rows.begin(), rows.end(), index.row()) == rows.end())
            rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> files;
    for (int row : rows)
        files.push_back(m_rows[static_cast<size_t>(row)].path);
    return CThumbsBrowser::CreateFilesData(files);
}

void CFilesListModel::SetRows(std::vector<Row> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CFilesListModel::RowOf(const std::string& path) const {
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].path == path)
            return static_cast<int>(i);
    return -1;
}

void CFilesListModel::SetRow(int index, Row row) {
    if (index < 0 || index >= static_cast<int>(m_rows.size()))
        return;
    m_rows[static_cast<size_t>(index)] = std::move(row);
    emit dataChanged(this->index(index, 0), this->index(index, kColumns - 1));
}

void CFilesListModel::SortRows(int mode, bool descending) {
    auto compare = [mode](const Row& a, const Row& b) -> int {
        switch (mode) {
            case 0:
                return CompareNoCase(a.path, b.path);
            case 2:
                return Compare(a.written, b.written);
            case 4:
                return CompareNoCase(LowerExtension(a.path), LowerExtension(b.path));
            case 5:
                return Compare(a.imageKey, b.imageKey);
            case 6:
                return Compare(a.bytes, b.bytes);
            default:
                return 0;
        }
    };
    if (mode != 0 && mode != 2 && mode != 4 && mode != 5 && mode != 6)
        return;
    emit layoutAboutToBeChanged();
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const Row& a, const Row& b) {
        const int order = compare(a, b);
        return descending ? order > 0 : order < 0;
    });
    emit layoutChanged();
}

// ---- view ----

CFilesList::CFilesList(CThumbsBrowser* browser, QWidget* parent)
    : QTreeView(parent), m_pBrowser(browser), m_pModel(new CFilesListModel(browser, this)) {
    setObjectName(QStringLiteral("FilesList"));
    setModel(m_pModel);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
        const int mode = ColumnSortMode(column);
        if (mode >= 0)
            SortBy(mode);
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { OnSelectionChanged(); });
    SetupColumns();
    // The browser's selection changes reach the list, unless its frame
    // already listens and passes them on (SyncSelectionFromBrowser).
    if (m_pBrowser && !m_pBrowser->onSelectionChanged) {
        m_pBrowser->onSelectionChanged = [this] { SyncSelectionFromBrowser(); };
        m_bFollowsBrowser = true;
    }
    if (m_pBrowser && !m_pBrowser->onItemsChanged) {
        m_pBrowser->onItemsChanged = [this](bool resorted) { OnBrowserItemsChanged(resorted); };
        m_bFollowsItems = true;
    }
}

CFilesList::~CFilesList() {
    if (m_pBrowser && m_bFollowsBrowser)
        m_pBrowser->onSelectionChanged = nullptr;
    if (m_pBrowser && m_bFollowsItems)
        m_pBrowser->onItemsChanged = nullptr;
}

void CFilesList::OnBrowserItemsChanged(bool resorted) {
    // The browser's sort replaces the order a column click gave.
    if (resorted)
        m_nSortMode = -1;
    // A hidden list (the thumbnails show) fills when it shows; a name being
    // edited is not dropped by a refill.
    if (IsEditing() || (parentWidget() && !isVisible())) {
        m_bStale = true;
        return;
    }
    Fill();
}

void CFilesList::showEvent(QShowEvent* event) {
    QTreeView::showEvent(event);
    if (m_bStale && !IsEditing())
        Fill();
}

int CFilesList::ColumnSortMode(int column) {
    static const int kModes[kColumns] = {0, 5, 6, 2};
    return column >= 0 && column < kColumns ? kModes[column] : -1;
}

void CFilesList::SetupColumns() {
    for (int column = 0; column < kColumns; ++column)
        setColumnWidth(column, kColumnWidth);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header()->setStretchLastSection(false);
}

void CFilesList::Fill() {
    if (!m_pBrowser)
        return;
    m_bStale = false;
    m_bFilling = true;
    std::vector<CFilesListModel::Row> rows;
    const std::vector<CItem> items = m_pBrowser->Items();
    rows.reserve(items.size());
    for (const CItem& item : items)
        rows.push_back(BuildRow(item.path));
    m_pModel->SetRows(std::move(rows));
    if (m_nSortMode >= 0)
        m_pModel->SortRows(m_nSortMode, m_bDescending);
    m_bFilling = false;
    SyncSelectionFromBrowser();
}

CFilesListModel::Row CFilesList::BuildRow(const std::string& path) const {
    CFilesListModel::Row row;
    row.path = path;
    row.name = QString::fromStdString(FileNameOf(path));
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return row;
    ThumbItemPtr cached;
    if (m_pBrowser->LookupItem(path, cached) && cached && cached->m_sourceWidth > 0) {
        char text[64];
        std::snprintf(text, sizeof text, Res::LoadStr(IDS_PICTURE_SIZE), cached->m_sourceWidth,
                      cached->m_sourceHeight, cached->m_bitsPerPixel);
        row.imageSize = QString::fromUtf8(text);
        row.imageKey = static_cast<uint32_t>(cached->m_sourceWidth) * 65536u +
                       static_cast<uint32_t>(cached->m_sourceHeight & 0xFFFF);
    }
    row.bytes = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    char size[64];
    std::snprintf(size, sizeof size, Res::LoadStr(IDS_SIZE_KB_WHOLE),
                  static_cast<unsigned>((row.bytes + 1023) / 1024));
    row.fileSize = QString::fromUtf8(size);
    row.written = st.st_mtime;
    return row;
}

void CFilesList::UpdateRow(const std::string& path) {
    if (!m_pBrowser)
        return;
    const int index = m_pModel->RowOf(path);
    if (index < 0)
        return;
    const uint32_t oldKey = m_pModel->Rows()[static_cast<size_t>(index)].imageKey;
    CFilesListModel::Row row = BuildRow(path);
    const bool resort = m_nSortMode == 5 && row.imageKey != oldKey;
    m_bFilling = true;
    m_pModel->SetRow(index, std::move(row));
    // Sorted by picture size, the row may have to move, as a refill would put it.
    if (resort)
        m_pModel->SortRows(m_nSortMode, m_bDescending);
    m_bFilling = false;
}

void CFilesList::SortBy(int mode) {
    if (mode == m_nSortMode)
        m_bDescending = !m_bDescending;
    else
        m_nSortMode = mode;
    m_pModel->SortRows(m_nSortMode, m_bDescending);
}

void CFilesList::SyncSelectionFromBrowser() {
    if (!m_pBrowser || m_bFilling)
        return;
    m_bFilling = true;
    std::map<std::string, bool> selected;
    for (const CItem& item : m_pBrowser->Items())
        selected[item.path] = m_pBrowser->IsSelected(item.path);
    QItemSelection selection;
    const auto& rows = m_pModel->Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (selected[rows[i].path])
            selection.select(m_pModel->index(static_cast<int>(i), 0),
                             m_pModel->index(static_cast<int>(i), kColumns - 1));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_bFilling = false;
}

std::vector<std::string> CFilesList::SelectedPaths() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> paths;
    for (int row : rows)
        paths.push_back(m_pModel->Rows()[static_cast<size_t>(row)].path);
    return paths;
}

void CFilesList::OnSelectionChanged() {
    if (m_bFilling || !m_pBrowser)
        return;
    const std::vector<std::string> paths = SelectedPaths();
    const std::vector<std::string> items = m_pBrowser->Paths();
    m_bFilling = true;
    m_pBrowser->DeselectAll();
    for (const std::string& path : paths) {
        const auto it = std::find(items.begin(), items.end(), path);
        if (it != items.end())
            m_pBrowser->SetSelected(static_cast<int>(it - items.begin()), true);
    }
    if (IThumbsView* view = m_pBrowser->View())
        view->Invalidate();
    m_pBrowser->UpdateStatus();
    m_bFilling = false;
}

QMimeData* CFilesList::BuildDropFiles() const {
    return CThumbsBrowser::CreateFilesData(SelectedPaths());
}

bool CFilesList::event(QEvent* event) {
    if (event->type() == CThumbReadyEvent::EventType()) {
        Fill();
        return true;
    }
    return QTreeView::event(event);
}

void CFilesList::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_pBrowser)
        return;
    std::unique_ptr<QMenu> menu = m_pBrowser->CreateContextMenu(this);
    menu->exec(event->globalPos());
}

void CFilesList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (m_pBrowser)
        m_pBrowser->OnLButtonDblClk({});
}

bool CFilesList::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool started = QTreeView::edit(index.sibling(index.row(), 0), trigger, event);
    if (started)
        g_bLabelEditing = 1;
    return started;
}

void CFilesList::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    g_bLabelEditing = 0;
    QTreeView::closeEditor(editor, hint);
    if (m_bStale)
        Fill();
}

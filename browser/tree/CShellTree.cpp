#include "CShellTree.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QTreeWidgetItemIterator>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <unordered_map>

#include "BrowserHost.h"
#include "BrowserLocations.h"
#include "CImgThumbsBrowser.h"
#include "CPopupEdit.h"
#include "DeviceChangeEvent.h"
#include "FileOperations.h"
#include "FreedesktopTrash.h"
#include "StringTable.h"
#include "TabstopNavigator.h"

namespace {

enum : unsigned { IDS_RENAME = 0xFB30, IDS_DELETE = 0xFB31 };

// The nodes' own roles beyond CShellTree's.
constexpr int kPlaceRole = Qt::UserRole + 10;
constexpr int kMountRole = Qt::UserRole + 11;

QEvent::Type LibrariesEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QByteArray Bytes(const std::string& s) {
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

std::string StdString(const QVariant& v) {
    const QByteArray b = v.toByteArray();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

std::string KeyOf(ShellFolderEntry::Kind kind, const std::string& path) {
    return kind == ShellFolderEntry::Kind::Computer ? std::string("::computer") : path;
}

std::string ItemKey(const QTreeWidgetItem* item) {
    return KeyOf(static_cast<ShellFolderEntry::Kind>(item->data(0, Qt::UserRole + 1).toInt()),
                 CShellTree::GetItemPath(item));
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Holds the selection guard for a scope.
struct GuardScope {
    explicit GuardScope(int& guard, bool on = true) : m_guard(guard), m_on(on) {
        if (m_on)
            ++m_guard;
    }
    ~GuardScope() {
        if (m_on)
            --m_guard;
    }
    int& m_guard;
    bool m_on;
};

}  // namespace

// Label editing: the new text goes to RenameItem instead of the model, and
// the browser-wide editing flag is held while the editor is open.
class CShellTreeEditDelegate : public QStyledItemDelegate {
public:
    explicit CShellTreeEditDelegate(CShellTree* tree) : QStyledItemDelegate(tree), m_tree(tree) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        g_bLabelEditing = 1;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
        g_bLabelEditing = 0;
        QStyledItemDelegate::destroyEditor(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* item = m_tree->itemFromIndex(index);
        if (!line || !item)
            return;
        const QString text = line->text();
        // The model keeps the old name; a successful rename rebuilds the node.
        QMetaObject::invokeMethod(
            m_tree,
            [tree = m_tree, path = CShellTree::GetItemPath(item), text] {
                if (QTreeWidgetItem* node = tree->FindLoaded(path))
                    tree->RenameItem(node, text);
            },
            Qt::QueuedConnection);
    }

private:
    CShellTree* m_tree;
};

CShellTree::CShellTree(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("32786"));
    setColumnCount(1);
    header()->hide();
    // Long names widen the tree and bring a horizontal scroll bar, as in a
    // file manager, instead of being cut.
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setFrameShape(QFrame::NoFrame);
    setUniformRowHeights(true);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setItemDelegate(new CShellTreeEditDelegate(this));
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setIconSize(QSize(16, 16));
    setAnimated(false);
    m_dropTarget.SetTree(this);
    m_pLibraries = GetWin7Library();
    if (m_pLibraries)
        m_pLibraries->AddListener(this);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { FillChildren(item); });
    connect(this, &QTreeWidget::currentItemChanged, this, &CShellTree::OnSelectionChanged);
    AddFolderListener(this);
    m_timer.setInterval(kCheckIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!isVisible())
            return;
        CheckMounts();
        CheckSelection();
    });
    m_timer.start();
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::FolderTree);
}

CShellTree::~CShellTree() {
    m_timer.stop();
    CTabstopNavigator::RemoveWindow(this);
    RemoveFolderListener(this);
    if (m_pLibraries && GetWin7Library() == m_pLibraries)
        m_pLibraries->RemoveListener(this);
    // The nodes go while this tree still exists: the view's own teardown
    // would otherwise report selection changes to a half-destroyed tree.
    disconnect(this, nullptr, this, nullptr);
    m_bSelectGuard = 1;
    clear();
}

bool CShellTree::IsLabelEditing() {
    return g_bLabelEditing != 0;
}

std::string CShellTree::GetItemPath(const QTreeWidgetItem* item) {
    return item ? StdString(item->data(0, kPathRole)) : std::string();
}

bool CShellTree::CanRename(const QTreeWidgetItem* item) {
    return item && item->data(0, kRenameRole).toBool();
}

QTreeWidgetItem* CShellTree::MakeItem(const ShellFolderEntry& entry) const {
    auto* item = new QTreeWidgetItem;
    item->setText(0, QFile::decodeName(entry.name.c_str()));
    item->setData(0, kPathRole, Bytes(entry.path));
    item->setData(0, kKindRole, static_cast<int>(entry.kind));
    item->setData(0, kRenameRole, entry.canRename);
    item->setData(0, kDeleteRole, entry.canDelete);
    item->setData(0, kPlaceRole, static_cast<int>(entry.place));
    item->setIcon(0, CSystemImageList::Instance().Icon(CIconExtractor::PlaceIcon(entry.place, false)));
    item->setChildIndicatorPolicy(entry.hasChildren ? QTreeWidgetItem::ShowIndicator
                                                    : QTreeWidgetItem::DontShowIndicator);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    if (entry.canRename)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    return item;
}

void CShellTree::SetOpenIcon(QTreeWidgetItem* item, bool open) {
    if (!item)
        return;
    const auto place = static_cast<CIconExtractor::Place>(item->data(0, kPlaceRole).toInt());
    item->setIcon(0, CSystemImageList::Instance().Icon(CIconExtractor::PlaceIcon(place, open)));
}

void CShellTree::FillRoot() {
    GuardScope guard(m_bSelectGuard);
    m_mounts = ShellNamespace::RemovableMounts();
    clear();
    ShellFolderEntry desktop;
    desktop.kind = ShellFolderEntry::Kind::Special;
    desktop.name = "Desktop";
    desktop.path = ShellNamespace::DesktopPath();
    desktop.place = CIconExtractor::Place::Desktop;
    desktop.hasChildren = true;
    QTreeWidgetItem* root = MakeItem(desktop);
    addTopLevelItem(root);
    ExpandNode(root);
}

std::vector<ShellFolderEntry> CShellTree::ChildrenOf(QTreeWidgetItem* item) const {
    if (item == Root())
        return ShellNamespace::RootChildren();
    if (static_cast<ShellFolderEntry::Kind>(item->data(0, kKindRole).toInt()) ==
        ShellFolderEntry::Kind::Computer)
        return ShellNamespace::ComputerChildren();
    return ShellNamespace::SubFolders(GetItemPath(item));
}

void CShellTree::FillChildren(QTreeWidgetItem* item) {
    if (!item || item->data(0, kFilledRole).toBool())
        return;
    item->setData(0, kFilledRole, true);
    const std::vector<ShellFolderEntry> entries = ChildrenOf(item);
    const std::string mount = StdString(item->data(0, kMountRole));
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(entries.size()));
    std::unordered_map<std::string, bool> seen;
    for (const ShellFolderEntry& entry : entries) {
        // One node per name and per place.
        if (!seen.emplace("n:" + entry.name, true).second && entry.kind == ShellFolderEntry::Kind::Folder)
            continue;
        if (!seen.emplace(KeyOf(entry.kind, entry.path), true).second)
            continue;
        QTreeWidgetItem* child = MakeItem(entry);
        child->setData(0, kMountRole,
                       Bytes(entry.kind == ShellFolderEntry::Kind::Removable ? entry.path : mount));
        children << child;
    }
    if (children.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    else
        item->addChildren(children);
}

void CShellTree::ExpandNode(QTreeWidgetItem* item) {
    if (!item)
        return;
    FillChildren(item);
    if (item->childCount() > 0)
        item->setExpanded(true);
}

bool CShellTree::IsItem(const QTreeWidgetItem* item) const {
    for (QTreeWidgetItemIterator it(const_cast<CShellTree*>(this)); *it; ++it)
        if (*it == item)
            return true;
    return false;
}

QTreeWidgetItem* CShellTree::FindLoaded(const std::string& path) const {
    if (path.empty())
        return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<CShellTree*>(this)); *it; ++it)
        if (GetItemPath(*it) == path)
            return *it;
    return nullptr;
}

QTreeWidgetItem* CShellTree::ComputerNode() const {
    QTreeWidgetItem* root = Root();
    if (!root)
        return nullptr;
    for (int i = 0; i < root->childCount(); ++i)
        if (static_cast<ShellFolderEntry::Kind>(root->child(i)->data(0, kKindRole).toInt()) ==
            ShellFolderEntry::Kind::Computer)
            return root->child(i);
    return nullptr;
}

bool CShellTree::IsOnLabel(QTreeWidgetItem* item, QPoint point) const {
    const QRect row = visualItemRect(item);
    if (!row.contains(point))
        return false;
    const int labelRight =
        row.left() + iconSize().width() + 12 + fontMetrics().horizontalAdvance(item->text(0));
    return point.x() <= labelRight;
}

bool CShellTree::GetSelectedPath(std::string& path, bool& isVirtual) const {
    QTreeWidgetItem* item = currentItem();
    isVirtual = false;
    if (!item)
        return false;
    path = GetItemPath(item);
    // No library nodes exist here, so a node without a folder has nothing.
    return !path.empty();
}

void CShellTree::SelectNode(QTreeWidgetItem* item) {
    setCurrentItem(item);
    if (item)
        scrollToItem(item, QAbstractItemView::PositionAtTop);
    m_bFound = true;
}

void CShellTree::Walk(QTreeWidgetItem* node, const std::string& target) {
    FillChildren(node);
    QTreeWidgetItem* below = nullptr;
    size_t belowLength = 0;
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        const std::string path = GetItemPath(child);
        if (path.empty())
            continue;
        if (path == target) {
            SelectNode(child);
            return;
        }
        // The deepest place holding the target leads on (Pictures before Home).
        if (ShellNamespace::IsAtOrBelow(target, path) && path.size() >= belowLength &&
            !(ShellNamespace::IsSymlinkLoop(path))) {
            below = child;
            belowLength = path.size();
        }
    }
    // A hidden folder on the way is shown when the browser is inside it.
    const std::string nodePath = GetItemPath(node);
    if (!below && !nodePath.empty() && target != nodePath && ShellNamespace::IsAtOrBelow(target, nodePath)) {
        const std::string base = ShellNamespace::WithSlash(nodePath);
        const size_t end = target.find('/', base.size());
        const std::string next = target.substr(0, end);
        ShellFolderEntry entry;
        if (next.size() > base.size() && target[base.size()] == '.' &&
            ShellNamespace::FolderEntry(next, entry)) {
            below = MakeItem(entry);
            below->setData(0, kMountRole, node->data(0, kMountRole));
            node->addChild(below);
        }
    }
    if (below) {
        ExpandNode(below);
        Walk(below, target);
    }
}

void CShellTree::SelectPath(const std::string& pathIn, const void* caller) {
    GuardScope guard(m_bSelectGuard, caller == this);
    m_bFound = false;
    std::string path = pathIn;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty() || !Root())
        return;
    std::string selected;
    bool isVirtual = false;
    if (GetSelectedPath(selected, isVirtual) && selected == path)
        return;
    if (path == GetItemPath(Root())) {
        SelectNode(Root());
        return;
    }
    ExpandNode(Root());
    Walk(Root(), path);
    if (!m_bFound) {
        if (QTreeWidgetItem* computer = ComputerNode()) {
            ExpandNode(computer);
            Walk(computer, path);
        }
    }
    viewport()->update();
}

bool CShellTree::SelectParentFolder() {
    if (QTreeWidgetItem* item = currentItem()) {
        if (!item->parent())
            return false;
        SelectNode(item->parent());
        return true;
    }
    if (!g_pThumbsBrowser)
        return false;
    std::string folder = g_pThumbsBrowser->CurrentFolder();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const size_t slash = folder.find_last_of('/');
    // A folder directly below the root has no parent to show.
    if (slash == std::string::npos || slash == 0)
        return false;
    SelectPath(folder.substr(0, slash));
    return m_bFound;
}

void CShellTree::SelectCurrentFolder() {
    if (g_pThumbsBrowser)
        SelectPath(g_pThumbsBrowser->CurrentFolder(), this);
}

void CShellTree::OnSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (previous && IsItem(previous))
        SetOpenIcon(previous, false);
    SetOpenIcon(current, true);
    if (m_bSelectGuard || !current)
        return;
    const std::string path = GetItemPath(current);
    if (!path.empty())
        OpenBrowserFolder(BrowserLocation::Make(BrowserLocation::kFolder, path), this);
}

void CShellTree::ReRead(QTreeWidgetItem* item) {
    if (!item || !item->data(0, kFilledRole).toBool())
        return;
    GuardScope guard(m_bSelectGuard);
    std::vector<ShellFolderEntry> entries = ChildrenOf(item);
    // Hidden folders shown because the browser went into them stay while they exist.
    for (int i = 0; i < item->childCount(); ++i) {
        const std::string path = GetItemPath(item->child(i));
        ShellFolderEntry hidden;
        if (item->child(i)->text(0).startsWith('.') && ShellNamespace::FolderEntry(path, hidden))
            entries.push_back(std::move(hidden));
    }
    std::unordered_map<std::string, const ShellFolderEntry*> wanted;
    for (const ShellFolderEntry& entry : entries)
        wanted.emplace(KeyOf(entry.kind, entry.path), &entry);
    std::unordered_map<std::string, QTreeWidgetItem*> present;
    for (int i = item->childCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* child = item->child(i);
        const std::string key = ItemKey(child);
        const auto it = wanted.find(key);
        if (it == wanted.end() || present.count(key) ||
            child->text(0) != QFile::decodeName(it->second->name.c_str())) {
            delete item->takeChild(i);
            continue;
        }
        present.emplace(key, child);
        const ShellFolderEntry& entry = *it->second;
        if (!entry.hasChildren && child->data(0, kFilledRole).toBool() && child->childCount() == 0) {
            child->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        } else if (!entry.hasChildren && !child->data(0, kFilledRole).toBool()) {
            child->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        } else if (entry.hasChildren) {
            child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        }
    }
    // The wanted order, with the nodes that stay (and their subtrees) kept.
    std::vector<std::pair<QTreeWidgetItem*, bool>> order;
    const std::string mount = StdString(item->data(0, kMountRole));
    for (const ShellFolderEntry& entry : entries) {
        const std::string key = KeyOf(entry.kind, entry.path);
        const auto it = present.find(key);
        if (it != present.end()) {
            order.emplace_back(it->second, it->second->isExpanded());
            present.erase(it);
        } else if (!present.count(key) && std::none_of(order.begin(), order.end(), [&](const auto& o) {
                       return ItemKey(o.first) == key;
                   })) {
            QTreeWidgetItem* child = MakeItem(entry);
            child->setData(0, kMountRole,
                           Bytes(entry.kind == ShellFolderEntry::Kind::Removable ? entry.path : mount));
            order.emplace_back(child, false);
        }
    }
    bool sameOrder = static_cast<int>(order.size()) == item->childCount();
    for (int i = 0; sameOrder && i < item->childCount(); ++i)
        sameOrder = item->child(i) == order[static_cast<size_t>(i)].first;
    if (!sameOrder) {
        const QList<QTreeWidgetItem*> old = item->takeChildren();
        QList<QTreeWidgetItem*> children;
        for (const auto& o : order)
            children << o.first;
        for (QTreeWidgetItem* child : old)
            if (!children.contains(child))
                delete child;
        item->addChildren(children);
        for (const auto& o : order)
            if (o.second)
                o.first->setExpanded(true);
    }
    if (item->childCount() == 0)
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    for (int i = 0; i < item->childCount(); ++i)
        ReRead(item->child(i));
}

void CShellTree::Refresh() {
    if (m_bBusy || !Root())
        return;
    ++m_nRefreshes;
    // The mounts shown from now on: the timer's check compares with them, so
    // a change this refresh already shows does not refresh the tree again.
    m_mounts = ShellNamespace::RemovableMounts();
    QTreeWidgetItem* current = currentItem();
    const std::string selected = GetItemPath(current);
    // A folder on a medium that went is not looked for again, even when its
    // mount point stays behind.
    bool keep = !selected.empty();
    if (keep) {
        const std::string mount = StdString(current->data(0, kMountRole));
        if (!mount.empty())
            keep = std::find(m_mounts.begin(), m_mounts.end(), mount) != m_mounts.end();
    }
    GuardScope guard(m_bSelectGuard);
    ReRead(Root());
    if (selected.empty()) {
        // A virtual place (or nothing) was selected: it stays if it is still there.
        setCurrentItem(current && IsItem(current) ? current : nullptr);
        return;
    }
    m_bFound = false;
    if (keep) {
        // The selected node may have stayed through the re-read.
        m_bFound = currentItem() && GetItemPath(currentItem()) == selected && Exists(selected);
        if (!m_bFound && Exists(selected))
            SelectPath(selected, this);
    }
    if (!m_bFound) {
        setCurrentItem(nullptr);
        clearSelection();
    }
}

std::vector<std::string> CShellTree::ExpandedFolders() const {
    std::vector<std::string> folders;
    std::vector<const QTreeWidgetItem*> stack;
    for (int i = topLevelItemCount() - 1; i >= 0; --i)
        stack.push_back(topLevelItem(i));
    while (!stack.empty()) {
        const QTreeWidgetItem* item = stack.back();
        stack.pop_back();
        if (!item->isExpanded())
            continue;
        const std::string path = GetItemPath(item);
        if (!path.empty())
            folders.push_back(path);
        for (int i = item->childCount() - 1; i >= 0; --i)
            stack.push_back(item->child(i));
    }
    return folders;
}

void CShellTree::RequestRefresh() {
    if (m_bRefreshPending)
        return;
    m_bRefreshPending = true;
    QTimer::singleShot(0, this, [this] {
        m_bRefreshPending = false;
        Refresh();
    });
}

void CShellTree::CheckMounts() {
    if (ShellNamespace::RemovableMounts() != m_mounts)
        Refresh();
}

void CShellTree::CheckSelection() {
    QTreeWidgetItem* item = currentItem();
    const std::string path = GetItemPath(item);
    if (path.empty())
        return;
    const std::string mount = StdString(item->data(0, kMountRole));
    bool gone = !Exists(path);
    if (!gone && !mount.empty()) {
        const std::vector<std::string> mounts = ShellNamespace::RemovableMounts();
        gone = std::find(mounts.begin(), mounts.end(), mount) == mounts.end();
    }
    if (!gone)
        return;
    Refresh();
    {
        GuardScope guard(m_bSelectGuard);
        setCurrentItem(nullptr);
        clearSelection();
    }
    // The pane showing the vanished folder empties instead of keeping stale files.
    if (g_pThumbsBrowser && ShellNamespace::IsAtOrBelow(g_pThumbsBrowser->CurrentFolder(), path))
        g_pThumbsBrowser->ReadFolder();
}

void CShellTree::SaveSelection() {
    std::string path;
    bool isVirtual = false;
    if (!GetSelectedPath(path, isVirtual))
        return;
    QByteArray bytes = Bytes(path);
    bytes.append(2, '\0');
    BrowserHost().WriteProfileString("SHELLTREE", "PIDL", bytes.toHex().toStdString());
}

bool CShellTree::RestoreSelection() {
    const std::string hex = BrowserHost().GetProfileString("SHELLTREE", "PIDL", std::string());
    QByteArray bytes = QByteArray::fromHex(QByteArray::fromStdString(hex));
    while (!bytes.isEmpty() && bytes.back() == '\0')
        bytes.chop(1);
    if (bytes.isEmpty())
        return false;
    const std::string path(bytes.constData(), static_cast<size_t>(bytes.size()));
    m_bFound = false;
    if (!Exists(path))
        return false;
    SelectPath(path);
    return m_bFound;
}

bool CShellTree::RenameItem(QTreeWidgetItem* item, const QString& text) {
    if (text.isEmpty() || !item || !CanRename(item))
        return false;
    const std::string path = GetItemPath(item);
    const std::string name = QFile::encodeName(text).toStdString();
    if (path.empty())
        return false;
    if (name == "." || name == ".." || name.find('/') != std::string::npos) {
        BrowserHost().ReportFileOperationError(path,
                                               std::make_error_code(std::errc::invalid_argument).message());
        return false;
    }
    const std::string parentPath = ParentOf(path);
    const std::string newPath = (parentPath == "/" ? std::string() : parentPath) + "/" + name;
    if (newPath == path)
        return false;
    m_bBusy = true;
    if (g_pThumbsBrowser)
        g_pThumbsBrowser->CancelWork();
    // Never onto a name already taken: that changes nothing, and the user
    // is told why a rename failed.
    const bool renamed = RunFileOperation(FO_RENAME, {path}, newPath, FOF_ALLOWUNDO);
    m_bBusy = false;
    if (!renamed)
        return false;
    QTreeWidgetItem* parent = item->parent();
    {
        GuardScope guard(m_bSelectGuard);
        delete item;
    }
    if (!parent) {
        Refresh();
        return true;
    }
    ReRead(parent);
    ExpandNode(parent);
    for (int i = 0; i < parent->childCount(); ++i)
        if (GetItemPath(parent->child(i)) == newPath) {
            SelectNode(parent->child(i));
            break;
        }
    return true;
}

bool CShellTree::DeleteSelected() {
    return DeleteItem(currentItem());
}

bool CShellTree::DeleteItem(QTreeWidgetItem* item) {
    if (!item || !item->data(0, kDeleteRole).toBool())
        return false;
    const std::string path = GetItemPath(item);
    if (path.empty())
        return false;
    // The process must not stand in the folder it deletes.
    std::error_code ec;
    const std::string cwd = std::filesystem::current_path(ec).string();
    if (!ec && ShellNamespace::IsAtOrBelow(cwd, path)) {
        const QByteArray own = QFile::encodeName(QCoreApplication::applicationDirPath());
        if (::chdir(own.constData()) != 0)
            (void)::chdir("/");
    }
    m_bBusy = true;
    if (g_pThumbsBrowser)
        g_pThumbsBrowser->CancelWork();
    const bool ok = ShellFileOperation(FO_DELETE, {path}, std::string(), false, true) && !Exists(path);
    m_bBusy = false;
    if (!ok)
        return false;
    QTreeWidgetItem* parent = item->parent();
    QTreeWidgetItem* next = nullptr;
    if (parent) {
        const int index = parent->indexOfChild(item);
        next = index + 1 < parent->childCount() ? parent->child(index + 1) : parent;
    }
    const std::string nextPath = GetItemPath(next);
    {
        GuardScope guard(m_bSelectGuard);
        if (currentItem() == item)
            setCurrentItem(nullptr);
        delete item;
        if (parent) {
            ReRead(parent);
            if (parent->childCount() == 0) {
                parent->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
                parent->setExpanded(false);
            }
        }
    }
    if (!nextPath.empty())
        SelectPath(nextPath);
    else if (next && IsItem(next))
        SelectNode(next);
    return true;
}

int CShellTree::OnItemContextMenu(QWidget* parent, QTreeWidgetItem* item, QPoint screenPoint) {
    if (!item || GetItemPath(item).empty())
        return 0;
    QMenu menu(parent);
    QAction* rename = menu.addAction(QString::fromUtf8(Res::LoadStr(IDS_RENAME)));
    rename->setEnabled(CanRename(item));
    QAction* remove = menu.addAction(QString::fromUtf8(Res::LoadStr(IDS_DELETE)));
    remove->setEnabled(item->data(0, kDeleteRole).toBool());
    QPointer<CShellTree> self(this);
    const std::string path = GetItemPath(item);
    QAction* chosen = menu.exec(screenPoint);
    if (!self || !chosen)
        return 0;
    QTreeWidgetItem* node = FindLoaded(path);
    if (!node)
        return 0;
    if (chosen == rename) {
        editItem(node, 0);
        return 1;
    }
    if (chosen == remove)
        return DeleteItem(node) ? 1 : 0;
    return 0;
}

void CShellTree::OnFilesDropped(QTreeWidgetItem* item) {
    if (IsItem(item))
        ReRead(item);
}

void CShellTree::OnLibrariesChanged() {
    // On the library watcher's thread: only post.
    QCoreApplication::postEvent(this, new QEvent(LibrariesEventType()));
}

bool CShellTree::event(QEvent* e) {
    if (e->type() == LibrariesEventType()) {
        // Nothing to update without libraries; the tree stays as it is.
        return true;
    }
    if (e->type() == CDeviceChangeEvent::EventType()) {
        // Media arrived: their folders join the tree.
        RequestRefresh();
        return true;
    }
    return QTreeWidget::event(e);
}

void CShellTree::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && state() != QAbstractItemView::EditingState) {
        DeleteSelected();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void CShellTree::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint point = viewport()->mapFrom(this, event->pos());
    QTreeWidgetItem* item = itemAt(point);
    if (item && IsOnLabel(item, point) && !GetItemPath(item).empty())
        OnItemContextMenu(this, item, event->globalPos());
    event->accept();
}

void CShellTree::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->accept();
}

void CShellTree::dragMoveEvent(QDragMoveEvent* event) {
    const Qt::DropAction action = m_dropTarget.OnDragOver(viewport(), event->mimeData(), event->modifiers(),
                                                          event->position().toPoint());
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void CShellTree::dragLeaveEvent(QDragLeaveEvent* event) {
    m_dropTarget.OnDragLeave(viewport());
    event->accept();
}

void CShellTree::dropEvent(QDropEvent* event) {
    const Qt::DropAction action = m_dropTarget.OnDragOver(viewport(), event->mimeData(), event->modifiers(),
                                                          event->position().toPoint());
    if (action == Qt::IgnoreAction) {
        m_dropTarget.OnDragLeave(viewport());
        event->ignore();
        return;
    }
    const bool ok = m_dropTarget.OnDrop(viewport(), event->mimeData(), action, event->position().toPoint());
    event->setDropAction(action);
    if (ok)
        event->accept();
    else
        event->ignore();
}

#include "CFilePropDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QResizeEvent>
#include <QTreeWidget>

#include <cstring>

#include "BrowserHost.h"
#include "CExifTagFormat.h"
#include "CFile.h"
#include "ConverterInterface.h"
#include "ExifFields.h"
#include "FolderFiles.h"
#include "Formgate.h"
#include "NewMenu.h"
#include "StringTable.h"

namespace {

QString Str(unsigned id) {
    return QString::fromUtf8(Res::LoadStr(id));
}

// The list's three small images: a closed and an open group, and a value row.
QIcon RowImage(int kind) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(70, 90, 130);
    if (kind == 2) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(150, 160, 180));
        p.drawEllipse(QRectF(6, 6, 4, 4));
        return QIcon(pixmap);
    }
    p.setPen(QPen(ink, 1));
    p.setBrush(QColor(245, 247, 252));
    p.drawRect(QRectF(2.5, 2.5, 11, 11));
    QPainterPath mark;
    if (kind == 0) {  // closed: a right-pointing wedge
        mark.moveTo(6, 5);
        mark.lineTo(10.5, 8);
        mark.lineTo(6, 11);
    } else {  // open: a down-pointing wedge
        mark.moveTo(5, 6.5);
        mark.lineTo(11, 6.5);
        mark.lineTo(8, 10.5);
    }
    mark.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(mark);
    return QIcon(pixmap);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder with its closing '/', as a path's root and directory read.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

CFilePropDlg::CFilePropDlg(QWidget* parent) : QDialog(parent) {
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QString::number(IDC_LIST));
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setAllColumnsShowFocus(true);
    m_list->setColumnCount(2);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);
    m_list->setContextMenuPolicy(Qt::NoContextMenu);
    m_list->setGeometry(7, 7, 300, 300);
    // The two columns share the list's client width whenever it changes
    // (a resize, or a scroll bar coming or going).
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { OnItemActivated(m_list->indexOfTopLevelItem(item)); });
}

void CFilePropDlg::OnInitDialog() {
    if (m_bEmbedded)
        m_list->setGeometry(rect());
    m_list->setHeaderLabels({Str(235), Str(236)});
    SetColumnWidths();
    for (int i = 0; i < 3; ++i)
        m_images[i] = RowImage(i);
    m_expanded[0] = m_expanded[1] = m_expanded[2] = true;
    m_groupRow[0] = m_groupRow[1] = m_groupRow[2] = 0;
    m_layoutRect = rect();
    m_listRect = m_list->geometry();
    m_layoutTaken = true;
}

void CFilePropDlg::SetColumnWidths() {
    const int w = m_list->viewport()->width();
    const int value = (w - 16) / 2;
    m_list->setColumnWidth(1, value);
    m_list->setColumnWidth(0, w - value);
}

bool CFilePropDlg::eventFilter(QObject* watched, QEvent* event) {
    if (m_layoutTaken && watched == m_list->viewport() && event->type() == QEvent::Resize)
        SetColumnWidths();
    return QDialog::eventFilter(watched, event);
}

void CFilePropDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!m_layoutTaken || event->size().isEmpty())
        return;
    // The list keeps its distance to the right and bottom edges.
    const QSize change = event->size() - m_layoutRect.size();
    m_list->setGeometry(m_listRect.x(), m_listRect.y(), std::max(0, m_listRect.width() + change.width()),
                        std::max(0, m_listRect.height() + change.height()));
    SetColumnWidths();
}

void CFilePropDlg::contextMenuEvent(QContextMenuEvent* event) {
    QWidget* owner = BrowserHost().MainWindow();
    MenuEx::CNewMenu menu(nullptr, owner ? owner : this);
    QAction* copy = menu.AppendCommand(0, Str(255));
    if (menu.exec(event->globalPos()) == copy)
        CopyToClipboard();
}

void CFilePropDlg::DeleteAllRows() {
    m_list->clear();
    m_nextRow = 0;
    m_groupRow[0] = m_groupRow[1] = m_groupRow[2] = -2;
}

int CFilePropDlg::AddGroupRow(unsigned captionId, bool expanded) {
    auto* item = new QTreeWidgetItem(QStringList{Str(captionId), QString()});
    item->setIcon(0, m_images[expanded ? 1 : 0]);
    QFont bold = item->font(0);
    bold.setBold(true);
    item->setFont(0, bold);
    m_list->insertTopLevelItem(m_nextRow, item);
    return m_nextRow++;
}

int CFilePropDlg::AddTextRow(unsigned captionId, const QString& text) {
    auto* item = new QTreeWidgetItem(QStringList{Str(captionId), text});
    item->setIcon(0, m_images[2]);
    item->setToolTip(1, text);  // long paths and names are cut in the column
    m_list->insertTopLevelItem(m_nextRow, item);
    return m_nextRow++;
}

int CFilePropDlg::AddNumberRow(unsigned captionId, int value) {
    return AddTextRow(captionId, QString::number(value));
}

QString CFilePropDlg::SizeText(uint64_t bytes) {
    double s = static_cast<double>(bytes) / 1024.0;
    if (s < 1000)
        return QString::asprintf(Res::LoadStr(138), s);
    s /= 1024.0;
    if (s < 1000)
        return QString::asprintf(Res::LoadStr(140), s);
    return QString::asprintf(Res::LoadStr(141), s / 1024.0);
}

void CFilePropDlg::FillFromFiles(const std::vector<std::string>& paths, bool refresh) {
    if (!refresh)
        m_paths = paths;
    const std::vector<std::string> shown = m_paths;
    if (shown.size() > 1) {
        DeleteAllRows();
        uint64_t total = 0;
        for (const std::string& p : shown)
            total += GetFileSizeByName(p);
        AddNumberRow(242, static_cast<int>(shown.size()));
        AddTextRow(243, SizeText(total));
        m_lastCount = static_cast<int>(shown.size());
        return;
    }
    if (shown.empty()) {
        DeleteAllRows();
        m_lastCount = 0;
        return;
    }
    const std::string& path = shown.front();
    if (path == m_lastPath && m_lastCount == 1 && !refresh)
        return;
    DeleteAllRows();
    m_lastPath = path;

    FillFile(path);
    if (BrowserHost().HasBrowserSelection()) {
        FillImage(path);
        FillExif(path);
    }
    m_lastCount = 1;
}

void CFilePropDlg::FillFile(const std::string& path) {
    m_groupRow[GroupFile] = AddGroupRow(244, m_expanded[GroupFile]);
    if (!m_expanded[GroupFile])
        return;
    AddTextRow(245, QString::fromStdString(FileNameOf(path)));
    AddTextRow(246, QString::fromStdString(FolderOf(path)));
    AddTextRow(247, SizeText(GetFileSizeByName(path)));
    CFileStatus status;
    if (!CFile::GetStatus(path, status))
        return;
    auto timeText = [](std::time_t t) {
        return QString::fromStdString(LocaleDateTimeText(QDateTime::fromSecsSinceEpoch(t)));
    };
    AddTextRow(248, timeText(status.m_ctime));
    AddTextRow(249, timeText(status.m_mtime));
    AddTextRow(250, timeText(status.m_atime));
    if (status.readOnly)
        AddTextRow(251, QString());
    if (status.hidden)
        AddTextRow(252, QString());
}

void CFilePropDlg::FillImage(const std::string& path) {
    m_groupRow[GroupImage] = AddGroupRow(237, m_expanded[GroupImage]);
    if (!m_expanded[GroupImage])
        return;
    // A file the library cannot read leaves the record as zeroed here:
    // empty texts and zero sizes.
    CONVIMAGEINFO info;
    std::memset(&info, 0, sizeof info);
    if (!ImExp_GetFileInfo(&info, path.c_str(), 0))
        std::memset(&info, 0, sizeof info);
    info.formatName[sizeof info.formatName - 1] = 0;
    info.compression[sizeof info.compression - 1] = 0;
    AddTextRow(239, QString::fromUtf8(info.formatName));
    AddTextRow(253, QString::fromUtf8(info.compression));
    const double megapixels = static_cast<double>(info.width) * info.height / 1000.0 / 1000.0;
    AddTextRow(240, QString::asprintf("%ux%u (%.1f MP)", info.width, info.height, megapixels));
    AddNumberRow(241, info.bitsPerPixel);
}

void CFilePropDlg::FillExif(const std::string& path) {
    std::vector<uint32_t> request;
    std::vector<std::string> texts;
    int found = 0;
    try {
        found = ReadExifFields(path, request, texts);
    } catch (const CFileException&) {
        // Damaged EXIF data: the groups gathered so far stand alone.
        return;
    }
    if (found < 1)
        return;
    m_groupRow[GroupExif] = AddGroupRow(254, m_expanded[GroupExif]);
    if (!m_expanded[GroupExif])
        return;
    for (size_t i = 0; i < texts.size() && i < request.size(); ++i)
        if (!texts[i].empty())
            AddTextRow(request[i], QString::fromStdString(texts[i]));
}

void CFilePropDlg::OnItemActivated(int row) {
    for (int g = 0; g < 3; ++g) {
        if (row >= 0 && row == m_groupRow[g]) {
            m_expanded[g] = !m_expanded[g];
            FillFromFiles(m_paths, true);
            return;
        }
    }
}

QString CFilePropDlg::RowsText() const {
    const bool onlySelected = !m_list->selectedItems().isEmpty();
    QString text;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (onlySelected && !item->isSelected())
            continue;
        text += item->text(0) + '\t' + item->text(1) + "\r\n";
    }
    return text;
}

void CFilePropDlg::CopyToClipboard() {
    QApplication::clipboard()->setText(RowsText());
}

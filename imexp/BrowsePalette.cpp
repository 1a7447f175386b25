#include "BrowsePalette.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <cstring>

#include "ImExpFileDialog.h"
#include "ModuleStrings.h"
#include "PaletteCache.h"

namespace formgate {

namespace {

constexpr int kCellW = CPaletteItem::kCellWidth;
constexpr int kCellH = CPaletteItem::kCellHeight;

// The glob patterns of a "Desc (*.a *.b)" name filter.
QStringList Globs(const QString& nameFilter) {
    const qsizetype open = nameFilter.lastIndexOf('(');
    const qsizetype close = nameFilter.lastIndexOf(')');
    if (open < 0 || close < open)
        return {"*"};
    return nameFilter.mid(open + 1, close - open - 1).split(' ', Qt::SkipEmptyParts);
}

}  // namespace

CBrowsePalette::CBrowsePalette(CImExpOpenDialog* dialog, QPushButton* button,
                               std::unique_ptr<BrowsePaletteModel> model)
    : QWidget(dialog ? dialog->window() : nullptr, Qt::Tool),
      dialog_(dialog),
      button_(button),
      model_(std::move(model)) {
    setObjectName("BrowsePalette");
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowTitle(ModuleString(IDS_BROWSE_TITLE));
    scroll_ = new QScrollBar(Qt::Vertical, this);
    connect(scroll_, &QScrollBar::valueChanged, this, [this] { update(); });
    maker_ = new QTimer(this);
    maker_->setInterval(0);
    connect(maker_, &QTimer::timeout, this, [this] { MakeSome(); });

    // The stored place, else 300 x 300 in the middle of the screen; a place
    // off every screen falls back to the corner.
    QRect rect(0, 0, 200, 200);
    int left, top, right, bottom;
    if (!model_->SavedRect(left, top, right, bottom)) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize size = screen ? screen->availableGeometry().size() : QSize(300, 300);
        left = (size.width() - 300) / 2, right = (size.width() + 300) / 2;
        top = (size.height() - 300) / 2, bottom = (size.height() + 300) / 2;
    }
    const QRect wanted(QPoint(left, top), QPoint(right - 1, bottom - 1));
    if (!wanted.isEmpty() && QGuiApplication::screenAt(wanted.topLeft()))
        rect = wanted;
    setGeometry(rect);
    if (button_)
        button_->setText(ModuleString(IDS_REFRESH));
}

CBrowsePalette::~CBrowsePalette() {
    Finish();
}

void CBrowsePalette::closeEvent(QCloseEvent* event) {
    Finish();
    QWidget::closeEvent(event);
}

void CBrowsePalette::Finish() {
    if (finished_)
        return;
    finished_ = true;
    maker_->stop();
    const QRect frame = geometry();
    model_->Close(frame.left(), frame.top(), frame.right() + 1, frame.bottom() + 1);
    if (button_)
        button_->setText(ModuleString(IDS_BROWSE_BUTTON));
}

QStringList CBrowsePalette::ReadablePaths() const {
    QStringList paths;
    if (!dialog_)
        return paths;
    const QDir folder = dialog_->directory();
    const QFileInfoList files =
        folder.entryInfoList(Globs(dialog_->ChosenNameFilter()), QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& file : files) {
        const QString path = file.absoluteFilePath();
        if (model_->Readable(path.toStdString()))
            paths << path;
    }
    return paths;
}

void CBrowsePalette::Fill() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (dialog_) {
        QString folder = dialog_->directory().absolutePath();
        if (folder.size() > 1 && folder.endsWith('/'))
            folder.chop(1);
        setWindowTitle(QString("Graphic files in folder %1").arg(folder));
    }
    paths_ = ReadablePaths();
    selected_.clear();
    scroll_->setValue(0);
    UpdateScrollRange();
    nextToMake_ = 0;
    maker_->start();
    QApplication::restoreOverrideCursor();
    FollowSelection();
    update();
}

void CBrowsePalette::Refresh() {
    if (ReadablePaths() != paths_)
        Fill();
}

bool CBrowsePalette::Filling() const {
    return maker_->isActive();
}

void CBrowsePalette::MakeSome() {
    // A few thumbnails per turn of the event loop; the rest on the next.
    for (int made = 0; made < 2 && nextToMake_ < paths_.size(); ++nextToMake_) {
        const std::string path = paths_[nextToMake_].toStdString();
        if (!model_->Item(path, false)) {
            model_->Item(path, true);
            ++made;
        }
    }
    update();
    if (nextToMake_ >= paths_.size())
        maker_->stop();
}

void CBrowsePalette::FollowSelection() {
    selected_.clear();
    if (!dialog_ || !dialog_->FileNameEdit())
        return;
    const QString text = dialog_->FileNameEdit()->text();
    const QString folder = dialog_->directory().absolutePath() + '/';
    if (!text.contains('"')) {
        if (!text.isEmpty())
            selected_.insert(QFileInfo(text).isAbsolute() ? text : folder + text);
    } else {
        const QStringList parts = text.split('"');
        for (qsizetype i = 1; i < parts.size(); i += 2)
            selected_.insert(folder + parts[i]);
    }
    update();
}

int CBrowsePalette::ClientWidth() const {
    return width() - scroll_->sizeHint().width();
}

int CBrowsePalette::Columns() const {
    return std::max(1, ClientWidth() / kCellW);
}

int CBrowsePalette::ScrollRow() const {
    return scroll_->value();
}

void CBrowsePalette::UpdateScrollRange() {
    // The last, partly filled row counts too.
    const int rows = static_cast<int>((paths_.size() + Columns() - 1) / Columns());
    const int visible = std::max(1, height() / kCellH);
    scroll_->setRange(0, std::max(0, rows - visible));
    scroll_->setPageStep(visible);
    scroll_->setSingleStep(1);
}

void CBrowsePalette::resizeEvent(QResizeEvent*) {
    const int w = scroll_->sizeHint().width();
    scroll_->setGeometry(width() - w, 0, w, height());
    UpdateScrollRange();
    update();
}

void CBrowsePalette::paintEvent(QPaintEvent*) {
    QImage back(QSize(std::max(1, ClientWidth()), std::max(1, height())), QImage::Format_RGB32);
    back.fill(palette().button().color());
    QPainter painter(&back);
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    const int columns = Columns();
    for (qsizetype index = 0; index < paths_.size(); ++index) {
        const CPaletteItem* item = model_->Item(paths_[index].toStdString(), false);
        if (!item)
            continue;
        const int x = static_cast<int>(index % columns) * kCellW;
        const int y = static_cast<int>(index / columns - ScrollRow()) * kCellH;
        if (y + kCellH < 0 || y > back.height())
            continue;
        if (item->HasDib()) {
            // The DIB's rows run bottom-up; a view of them, flipped on drawing.
            const QImage rows(item->dib.data() + 40, item->width, item->height,
                              static_cast<qsizetype>(CPaletteItem::Stride(item->width)),
                              QImage::Format_BGR888);
            painter.drawImage(QPoint(x + (kCellW - item->width) / 2, y + 2), rows.mirrored(false, true));
        } else {
            painter.setPen(QPen(Qt::red, 5));
            painter.drawLine(x + 5, y + 5, x + kCellW - 5, y + kCellH - 5);
            painter.drawLine(x + kCellW - 5, y + 5, x + 5, y + kCellH - 5);
        }
        const bool selected = selected_.count(paths_[index]) != 0;
        painter.setPen(QPen(selected ? Qt::black : palette().button().color(), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(x + 1, y + 1, kCellW - 2, kCellH - 2));
        painter.setPen(palette().buttonText().color());
        painter.drawText(QRect(x, y + 100, kCellW, 20),
                         Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                         QFileInfo(paths_[index]).fileName());
    }
    painter.end();
    QPainter(this).drawImage(0, 0, back);
}

int CBrowsePalette::IndexAt(const QPoint& point) const {
    const int index = PaletteHitTest(point.x(), point.y(), ClientWidth(), ScrollRow());
    return index >= 0 && index < paths_.size() ? index : -1;
}

void CBrowsePalette::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const int index = IndexAt(event->position().toPoint());
    if (index < 0 || !model_->Item(paths_[index].toStdString(), false))
        return;
    selected_.clear();
    selected_.insert(paths_[index]);
    if (dialog_ && dialog_->FileNameEdit())
        dialog_->FileNameEdit()->setText(QFileInfo(paths_[index]).fileName());
    update();
}

void CBrowsePalette::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dialog_ && IndexAt(event->position().toPoint()) >= 0)
        dialog_->accept();
}

void CBrowsePalette::wheelEvent(QWheelEvent* event) {
    scroll_->setValue(scroll_->value() - event->angleDelta().y() / 120);
}

QMenu* CBrowsePalette::ContextMenu() {
    if (menu_)
        return menu_;
    menu_ = new QMenu(this);
    QAction* save = menu_->addAction("&Save Data Base On Exit");
    save->setObjectName("32771");
    save->setCheckable(true);
    connect(menu_, &QMenu::aboutToShow, this, [this, save] { save->setChecked(model_->SaveOnExit()); });
    save->setChecked(model_->SaveOnExit());
    connect(save, &QAction::triggered, this, [this, save] {
        model_->SetSaveOnExit(!model_->SaveOnExit());
        save->setChecked(model_->SaveOnExit());
    });
    QAction* refresh = menu_->addAction("&Refresh All Data Base");
    refresh->setObjectName("32772");
    connect(refresh, &QAction::triggered, this, [this] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        model_->RefreshAll();
        QApplication::restoreOverrideCursor();
        update();
    });
    QAction* remove = menu_->addAction("&Delete Data Base File");
    remove->setObjectName("32773");
    connect(remove, &QAction::triggered, this, [this] { model_->DeleteCacheFile(); });
    return menu_;
}

void CBrowsePalette::contextMenuEvent(QContextMenuEvent* event) {
    ContextMenu()->popup(event->globalPos());
}

}  // namespace formgate

#include "MyToolBar.h"

#include <QImageReader>
#include <QLayout>
#include <QPainter>
#include <QToolButton>

#include "Bitmap32.h"
#include "CommandIds.h"
#include "SkinAccess.h"

namespace {

// One cell of a strip as a pixmap, its top-left pixel's colour transparent.
QPixmap Cell(const QImage& strip, int index, QSize size) {
    if (strip.isNull() || (index + 1) * size.width() > strip.width())
        return {};
    QImage cell = strip.copy(index * size.width(), 0, size.width(), std::min(size.height(), strip.height()));
    cell = cell.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = strip.pixel(0, 0);
    for (int y = 0; y < cell.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(cell.scanLine(y));
        for (int x = 0; x < cell.width(); ++x)
            if ((line[x] & 0xffffff) == (key & 0xffffff))
                line[x] = 0;
    }
    return QPixmap::fromImage(cell);
}

// 32-bit pictures keep their alpha; other files are read by Qt.
QImage ReadStrip(const QString& name) {
    if (name.isEmpty())
        return {};
    return Bitmap32::LoadSkinPicture(Skin::ResFolder() + name);
}

}  // namespace

CMyToolBar::CMyToolBar(QWidget* parent) : QToolBar(parent) {
    setMovable(false);
    setFloatable(false);
}

void CMyToolBar::LoadImages(const QString& normal, const QString& hot, const QString& disabled, int cx,
                            int cy) {
    buttonSize_ = QSize(cx + 7, cy + 8);
    imageSize_ = QSize(cx, cy);
    setIconSize(imageSize_);
    setFixedHeight(cy + 10);
    if (!normal.isEmpty())
        normal_ = ReadStrip(normal);
    if (!disabled.isEmpty())
        disabled_ = ReadStrip(disabled);
    if (!hot.isEmpty())
        hot_ = ReadStrip(hot);
    ApplyIcons();
}

void CMyToolBar::SetButtons(const std::vector<int>& ids, const QStringList& texts) {
    for (QAction* a : actions_)
        removeAction(a);
    actions_.clear();
    for (size_t i = 0; i < ids.size(); ++i) {
        auto* action = new QAction(i < size_t(texts.size()) ? texts[int(i)] : QString(), this);
        action->setObjectName(QString::number(ids[i]));
        const int id = ids[i];
        connect(action, &QAction::triggered, this, [this, id] { emit Command(id); });
        addAction(action);
        if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action)))
            button->setFixedSize(buttonSize_);
        actions_.push_back(action);
    }
    ApplyIcons();
}

QAction* CMyToolBar::ButtonAction(int id) const {
    for (QAction* a : actions_)
        if (a->objectName().toInt() == id)
            return a;
    return nullptr;
}

void CMyToolBar::ApplyIcons() {
    for (size_t i = 0; i < actions_.size(); ++i) {
        QIcon icon;
        const QPixmap normal = Cell(normal_, int(i), imageSize_);
        if (!normal.isNull())
            icon.addPixmap(normal, QIcon::Normal);
        const QPixmap hot = Cell(hot_, int(i), imageSize_);
        if (!hot.isNull())
            icon.addPixmap(hot, QIcon::Active);
        const QPixmap disabled = Cell(disabled_, int(i), imageSize_);
        if (!disabled.isNull())
            icon.addPixmap(disabled, QIcon::Disabled);
        actions_[i]->setIcon(icon);
        if (auto* button = qobject_cast<QToolButton*>(widgetForAction(actions_[i])))
            button->setFixedSize(buttonSize_);
    }
}

CMainToolBar::CMainToolBar(QWidget* parent) : CMyToolBar(parent) {}

void CMainToolBar::LoadButtons() {
    LoadImages(Skin::String("MAIN TOOLBAR", "STANDARD"), Skin::String("MAIN TOOLBAR", "HOT"),
               Skin::String("MAIN TOOLBAR", "DISABLE"), 24, 24);
    SetButtons({CmdId::FileOpen, CmdId::FilePrint, CmdId::Home},
               {QStringLiteral("Open"), QStringLiteral("Print"), QStringLiteral("Home")});
}

CMyReBar::CMyReBar(QWidget* parent) : QToolBar(parent) {
    setMovable(false);
    setFloatable(false);
    // Room for the bands painted above and below the bars.
    setContentsMargins(0, 4, 0, 2);
    layout()->setContentsMargins(0, 0, 0, 0);
    layout()->setSpacing(0);
    back_ = Skin::Color("TASK TABS", "BACKGROND COLOR", QColor(255, 0, 0));
    select_ = Skin::Color("TASK TABS", "SELECT COLOR", QColor(0, 255, 0));
}

void CMyReBar::LoadBackground(const char* section) {
    const QString name = Skin::String(section, "BACKGROUND");
    background_ = ReadStrip(name);
    update();
}

void CMyReBar::SetHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    update();
}

void CMyReBar::PaintBackground(QPainter& p, int w, int h) const {
    if (w <= 0 || h <= 0)
        return;
    if (highlighted_) {
        p.fillRect(QRect(0, 0, w, h), back_);
        p.fillRect(QRect(0, std::max(0, h - 20), w, std::min(20, h)), select_);
        return;
    }
    p.fillRect(QRect(0, 0, w, h), QColor(232, 232, 232));
    if (background_.isNull())
        return;
    const int bw = background_.width(), bh = background_.height();
    p.drawImage(QRect(0, 0, bw, bh + 2), background_);
    if (w > bw)
        p.drawImage(QRect(bw, 0, w - bw, bh + 2), background_, QRect(bw - 1, 0, 1, bh));
}

void CMyReBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintBackground(p, width(), height());
}

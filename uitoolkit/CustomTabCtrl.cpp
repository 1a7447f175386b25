#include "CustomTabCtrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <stdexcept>

CCustomTabCtrl::CCustomTabCtrl(QWidget* parent) : QTabBar(parent) {
    setExpanding(false);
    setDrawBase(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setMouseTracking(true);
    setFocusPolicy(Qt::TabFocus);
    QFont f = font();
    f.setBold(true);
    setFont(f);
    connect(this, &QTabBar::tabBarClicked, this, [this](int index) {
        if (index < 0 || !isTabEnabled(index))
            return;
        SetCurSel(index);
        emit TabCommand(GetTabCommandId(index));
    });
}

void CCustomTabCtrl::SetColors(const Colors& colors) {
    colors_ = colors;
    update();
}

void CCustomTabCtrl::SetImageStrips(const QString& standard, const QString& disabled, const QString& hot) {
    standard_.Load(standard, 0);
    disabled_.Load(disabled, 0);
    hot_.Load(hot, 0);
    updateGeometry();
}

int CCustomTabCtrl::InsertTab(int index, const QString& text, int imageIndex) {
    if (index < 0)
        throw std::invalid_argument("InsertTab: negative index");
    const int at = insertTab(index, text);
    imageIndex_.insert(imageIndex_.begin() + std::min<size_t>(size_t(at), imageIndex_.size()), imageIndex);
    setTabData(at, 0);
    return at;
}

void CCustomTabCtrl::SetTabCommandId(int index, int commandId) {
    if (index < 0 || index >= count())
        throw std::invalid_argument("SetTabCommandId: index out of range");
    setTabData(index, commandId);
}

int CCustomTabCtrl::GetTabCommandId(int index) const {
    return tabData(index).toInt();
}

int CCustomTabCtrl::FindTabById(int commandId) const {
    for (int i = 0; i < count(); ++i)
        if (GetTabCommandId(i) == commandId)
            return i;
    return -1;
}

void CCustomTabCtrl::EnableTabById(int commandId, bool enable) {
    const int index = FindTabById(commandId);
    if (index < 0)
        throw std::invalid_argument("EnableTabById: unknown command id");
    setTabEnabled(index, enable);
}

void CCustomTabCtrl::SelectTabById(int commandId) {
    SetCurSel(FindTabById(commandId));
}

void CCustomTabCtrl::SetCurSel(int index) {
    selected_ = index >= 0 && index < count() ? index : -1;
    if (selected_ >= 0) {
        const QSignalBlocker block(this);
        setCurrentIndex(selected_);
    }
    update();
}

QRect CCustomTabCtrl::GetBandRect() const {
    const int top = count() > 0 ? tabRect(0).bottom() + 1 : 0;
    return QRect(0, top, width(), std::max(0, height() - top));
}

QSize CCustomTabCtrl::tabSizeHint(int index) const {
    const QFontMetrics fm(font());
    const QSize cell = standard_.GetCellSize();
    const int imageWidth = cell.isEmpty() ? 0 : cell.width() + 6;
    const int height = std::max(fm.height() + 12, cell.height() + 8);
    return QSize(fm.horizontalAdvance(tabText(index)) + imageWidth + 28, height);
}

void CCustomTabCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), colors_.background);
    const QRect band = GetBandRect();
    p.fillRect(band, colors_.select);
    for (int i = 0; i < count(); ++i) {
        const QRect r = tabRect(i).adjusted(2, 3, -2, 0);
        const bool selected = i == selected_;
        if (selected) {
            QPainterPath path;
            path.addRoundedRect(QRectF(r).adjusted(0, 0, 0, 6), 5, 5);
            p.fillPath(path, colors_.select);
        } else if (i == hotTab_ && isTabEnabled(i)) {
            QPainterPath path;
            path.addRoundedRect(QRectF(r).adjusted(0, 0, 0, 6), 5, 5);
            QColor c = colors_.select;
            c.setAlpha(60);
            p.fillPath(path, c);
        }
        int x = r.left() + 12;
        const MainInterface::CInterfaceImageList& strip =
            !isTabEnabled(i) ? disabled_ : (i == hotTab_ || selected ? hot_ : standard_);
        const int image = i < int(imageIndex_.size()) ? imageIndex_[size_t(i)] : i;
        const QSize cell = strip.GetCellSize();
        if (!cell.isEmpty()) {
            strip.Draw(p, image, QPoint(x, r.top() + (r.height() - cell.height()) / 2));
            x += cell.width() + 6;
        }
        QColor text = selected ? colors_.textSelect : colors_.textNormal;
        if (i == hotTab_ && isTabEnabled(i))
            text = colors_.textHighlight;
        // Dimmed, yet still readable against the bar.
        if (!isTabEnabled(i))
            text.setAlpha(180);
        p.setPen(text);
        p.drawText(QRect(x, r.top(), r.right() - x, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                   tabText(i));
    }
}

void CCustomTabCtrl::mousePressEvent(QMouseEvent* event) {
    const int index = tabAt(event->position().toPoint());
    if (index < 0 || !isTabEnabled(index))
        return;
    QTabBar::mousePressEvent(event);
}

void CCustomTabCtrl::mouseMoveEvent(QMouseEvent* event) {
    const int index = tabAt(event->position().toPoint());
    if (index != hotTab_) {
        hotTab_ = index;
        update();
    }
    QTabBar::mouseMoveEvent(event);
}

void CCustomTabCtrl::leaveEvent(QEvent* event) {
    hotTab_ = -1;
    update();
    QTabBar::leaveEvent(event);
}

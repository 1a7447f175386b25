#include "SizingControlBar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QResizeEvent>

#include "Bitmap32.h"
#include "ImgButton.h"
#include "SkinAccess.h"

namespace {

// The caption band: the bar's title on the skin's colours and the close
// button from the skin ("MAIN" / "XBUTTON").
class CaptionBand : public QWidget {
public:
    CaptionBand(CSizingControlBar* bar) : QWidget(bar), bar_(bar) {
        close_ = new QAbstractButtonClose(this);
        close_->setToolTip(QStringLiteral("Close"));
        QObject::connect(close_, &QAbstractButton::clicked, bar, [bar] {
            bar->hide();
            if (bar->OnClosed)
                bar->OnClosed();
        });
        setFixedHeight(SizingRow::kCaption + 4);
    }
    QSize sizeHint() const override { return QSize(60, SizingRow::kCaption + 4); }
    QSize minimumSizeHint() const override { return sizeHint(); }
    void SetCloseVisible(bool visible) { close_->setVisible(visible); }
    void SetActive(bool active) {
        active_ = active;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QColor base = Skin::DialogBackground();
        const QColor first = active_ ? QColor(48, 72, 112) : base.darker(112);
        const QColor second = active_ ? QColor(96, 132, 188) : base;
        // 64 bands from the first colour to the second.
        const QRect band = rect().adjusted(0, 1, 0, -1);
        for (int k = 0; k < 64; ++k) {
            const int x0 = band.left() + band.width() * k / 64;
            const int x1 = band.left() + band.width() * (k + 1) / 64;
            p.fillRect(QRect(x0, band.top(), x1 - x0, band.height()),
                       CSizingControlBarCF::GradientStep(first, second, k));
        }
        p.setPen(active_ ? Qt::white : QColor(30, 40, 60));
        QFont f(QStringLiteral("Tahoma"));
        f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Arial")});
        f.setStyleHint(QFont::SansSerif);
        f.setPointSizeF(8.5 * 96.0 / std::max(1, logicalDpiY()));
        f.setBold(true);
        p.setFont(f);
        const int right = close_->isVisible() ? close_->x() - 4 : width() - 4;
        const int left = band.left() + 3;
        p.drawText(QRect(left, band.top() - 1, right - left, band.height()), Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(f).elidedText(bar_->windowTitle(), Qt::ElideRight, right - left));
    }
    void resizeEvent(QResizeEvent*) override {
        close_->setGeometry(width() - 18, (height() - 14) / 2, 14, 14);
    }

private:
    // The close button: the skin's picture, or a drawn cross without one.
    class QAbstractButtonClose : public QAbstractButton {
    public:
        explicit QAbstractButtonClose(QWidget* parent) : QAbstractButton(parent) {
            image_ = Bitmap32::LoadSkinPicture(Skin::ImagePath("MAIN", "XBUTTON"));
            setFocusPolicy(Qt::NoFocus);
            setAttribute(Qt::WA_Hover);
        }

    protected:
        void paintEvent(QPaintEvent*) override {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            if (underMouse())
                p.fillRect(rect(), QColor(255, 255, 255, 70));
            if (!image_.isNull()) {
                p.drawImage(QPoint((width() - image_.width()) / 2, (height() - image_.height()) / 2), image_);
                return;
            }
            p.setPen(QPen(QColor(40, 40, 40), 1.6));
            p.drawLine(QPointF(3.5, 3.5), QPointF(width() - 3.5, height() - 3.5));
            p.drawLine(QPointF(width() - 3.5, 3.5), QPointF(3.5, height() - 3.5));
        }

    private:
        QImage image_;
    };

    CSizingControlBar* bar_;
    QAbstractButtonClose* close_;
    bool active_ = false;
};

SizingSize ToSizing(QSize s) {
    return {s.width(), s.height()};
}

}  // namespace

CSizingControlBar::CSizingControlBar(const QString& title, int id, QWidget* parent)
    : QDockWidget(title, parent), id_(id) {
    setObjectName(QString::number(id));
    titleBar_ = new CaptionBand(this);
    setTitleBarWidget(titleBar_);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
    connect(this, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        if (!floating) {
            setMinimumSize(0, 0);
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            return;
        }
        // A floating bar takes its floating size; where its floating minimum
        // equals its maximum that side is fixed, and some bars are fixed whole.
        const QSize size(sizes_.floating.cx, sizes_.floating.cy);
        if (!IsFloatResizable()) {
            setFixedSize(size);
            return;
        }
        setMinimumSize(sizes_.minFloat.cx, sizes_.minFloat.cy);
        setMaximumSize(sizes_.max.cx, sizes_.max.cy);
        resize(size);
    });
}

void CSizingControlBar::SetMinSizes(QSize horz, QSize vert, QSize floating) {
    sizes_.SetMinSizes(ToSizing(horz), ToSizing(vert), ToSizing(floating));
    updateGeometry();
}

void CSizingControlBar::ShowCloseButton(bool show) {
    closeVisible_ = show;
    static_cast<CaptionBand*>(titleBar_)->SetCloseVisible(show);
}

void CSizingControlBar::ShowCaption(bool show) {
    if (!show && !noTitle_)
        noTitle_ = new QWidget(this);
    setTitleBarWidget(show ? titleBar_ : noTitle_);
    titleBar_->setVisible(show);
}

void CSizingControlBar::LoadState(const std::string& profileName, const IntReader& read) {
    const std::string section = profileName + "-SCBar-" + std::to_string(id_);
    sizes_.horz = {read(section, "sizeHorzCX", sizes_.horz.cx), read(section, "sizeHorzCY", sizes_.horz.cy)};
    sizes_.vert = {read(section, "sizeVertCX", sizes_.vert.cx), read(section, "sizeVertCY", sizes_.vert.cy)};
    sizes_.floating = {read(section, "sizeFloatCX", sizes_.floating.cx),
                       read(section, "sizeFloatCY", sizes_.floating.cy)};
    sizes_.Clamp();
}

void CSizingControlBar::SaveState(const std::string& profileName, const IntWriter& write) const {
    const std::string section = profileName + "-SCBar-" + std::to_string(id_);
    write(section, "sizeHorzCX", sizes_.horz.cx);
    write(section, "sizeHorzCY", sizes_.horz.cy);
    write(section, "sizeVertCX", sizes_.vert.cx);
    write(section, "sizeVertCY", sizes_.vert.cy);
    write(section, "sizeFloatCX", sizes_.floating.cx);
    write(section, "sizeFloatCY", sizes_.floating.cy);
}

QSize CSizingControlBar::sizeHint() const {
    if (isFloating())
        return QSize(sizes_.floating.cx, sizes_.floating.cy);
    const auto* main = qobject_cast<const QMainWindow*>(parentWidget());
    const Qt::DockWidgetArea area =
        main ? main->dockWidgetArea(const_cast<CSizingControlBar*>(this)) : Qt::LeftDockWidgetArea;
    if (area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea)
        return QSize(sizes_.horz.cx, sizes_.horz.cy);
    return QSize(sizes_.vert.cx, sizes_.vert.cy);
}

void CSizingControlBar::resizeEvent(QResizeEvent* event) {
    QDockWidget::resizeEvent(event);
    // Remember the size the user gave the bar in its present state.
    const QSize s = event->size();
    if (s.isEmpty() || !isVisible())
        return;
    bool horizontal = false;
    if (auto* main = qobject_cast<QMainWindow*>(parentWidget())) {
        const Qt::DockWidgetArea area = main->dockWidgetArea(this);
        horizontal = area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
    }
    SizingSize& target = isFloating() ? sizes_.floating : horizontal ? sizes_.horz : sizes_.vert;
    target = {s.width(), s.height()};
    sizes_.Clamp();
}

CSizingControlBarCF::CSizingControlBarCF(const QString& title, int id, QWidget* parent)
    : CSizingControlBarG(title, id, parent) {
    connect(qApp, &QApplication::focusChanged, this, &CSizingControlBarCF::OnFocusChanged);
}

void CSizingControlBarCF::OnFocusChanged(QWidget*, QWidget* now) {
    const bool active = now && (now == this || isAncestorOf(now));
    if (active == active_)
        return;
    active_ = active;
    static_cast<CaptionBand*>(titleBar_)->SetActive(active);
}

QColor CSizingControlBarCF::GradientStep(QColor first, QColor second, int k) {
    auto mix = [k](int a, int b) { return (a * (64 - k) + b * k) / 64; };
    return QColor(mix(first.red(), second.red()), mix(first.green(), second.green()),
                  mix(first.blue(), second.blue()));
}

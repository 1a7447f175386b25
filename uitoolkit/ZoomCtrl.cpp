#include "ZoomCtrl.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionSlider>

#include "Bitmap32.h"
#include "ImgButton.h"
#include "SkinAccess.h"
#include "TabstopNavigator.h"

namespace {
// Scroll codes handed to the zoom handler.
constexpr int kLineUp = 0;
constexpr int kLineDown = 1;
constexpr int kThumbTrack = 5;
}  // namespace

CMySliderCtrl::CMySliderCtrl(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(20);
}

void CMySliderCtrl::SetBackColor(QColor colour) {
    back_ = colour;
    update();
}

void CMySliderCtrl::SetThumbImage(const QImage& thumb) {
    thumb_ = thumb;
    update();
}

QImage CMySliderCtrl::BuildTrackImage(int w, int h, QRect channel, QColor background) {
    if (w <= 0 || h <= 0)
        return {};
    constexpr int kScale = 8;
    QImage big(w * kScale, h * kScale, QImage::Format_RGB32);
    big.fill(background);
    QPainter p(&big);
    const QRect c(channel.left() * kScale, channel.top() * kScale, channel.width() * kScale,
                  channel.height() * kScale);
    // A wedge growing from left to right: thin at the small end.
    QPolygon wedge;
    wedge << QPoint(c.left(), c.bottom()) << QPoint(c.right(), c.top()) << QPoint(c.right(), c.bottom());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(128, 128, 128));
    p.drawPolygon(wedge);
    p.setPen(QPen(QColor(64, 64, 64), kScale));
    p.drawLine(wedge[0], wedge[1]);
    p.setPen(QPen(QColor(230, 230, 230), kScale));
    p.drawLine(wedge[1], wedge[2]);
    p.drawLine(wedge[2], wedge[0]);
    p.end();

    QImage out(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            int r = 0, g = 0, b = 0;
            for (int yy = 0; yy < kScale; ++yy) {
                const auto* src =
                    reinterpret_cast<const QRgb*>(big.constScanLine(y * kScale + yy)) + x * kScale;
                for (int xx = 0; xx < kScale; ++xx) {
                    r += qRed(src[xx]);
                    g += qGreen(src[xx]);
                    b += qBlue(src[xx]);
                }
            }
            dst[x] = qRgb(r / 64, g / 64, b / 64);
        }
    }
    return out;
}

void CMySliderCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect channel(6, 4, std::max(0, width() - 12), std::max(0, height() - 8));
    const QImage track = BuildTrackImage(width(), height(), channel, back_);
    if (track.isNull())
        return;
    p.drawImage(0, 0, track);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const int span = std::max(1, maximum() - minimum());
    const int x = channel.left() + (value() - minimum()) * channel.width() / span;
    p.setRenderHint(QPainter::Antialiasing);
    if (!thumb_.isNull()) {
        p.drawImage(QPoint(x - thumb_.width() / 2, (height() - thumb_.height()) / 2), thumb_);
    } else {
        QPainterPath knob;
        knob.addRoundedRect(QRectF(x - 4, 1, 8, height() - 2), 3, 3);
        p.fillPath(knob, QColor(245, 245, 245));
        p.setPen(QColor(70, 70, 70));
        p.drawPath(knob);
    }
    if (hasFocus()) {
        p.setPen(QPen(QColor(255, 255, 255, 160), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

CZoomCtrl::CZoomCtrl(QWidget* parent) : QWidget(parent) {
    out_ = new CZoomButton(QStringLiteral("-"), this);
    in_ = new CZoomButton(QStringLiteral("+"), this);
    slider_ = new CMySliderCtrl(this);
    out_->SetImageFiles(Skin::String("ZOOMBAR", "Out", "ZoomOut.bmp"),
                        Skin::String("ZOOMBAR", "Out", "ZoomOut.bmp"),
                        Skin::String("ZOOMBAR", "Out", "ZoomOut.bmp"), Skin::String("ZOOMBAR", "OutPressed"));
    in_->SetImageFiles(Skin::String("ZOOMBAR", "In", "ZoomIn.bmp"),
                       Skin::String("ZOOMBAR", "In", "ZoomIn.bmp"),
                       Skin::String("ZOOMBAR", "In", "ZoomIn.bmp"), Skin::String("ZOOMBAR", "InPressed"));
    out_->setObjectName(QStringLiteral("1"));
    in_->setObjectName(QStringLiteral("2"));
    slider_->setObjectName(QStringLiteral("3"));
    slider_->SetThumbImage(Bitmap32::LoadSkinPicture(Skin::ImagePath("ZOOMBAR", "Thumb")));
    for (CZoomButton* b : {out_, in_})
        b->setFixedSize(22, 22);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    layout->addWidget(out_);
    layout->addWidget(slider_, 1);
    layout->addWidget(in_);
    setFixedWidth(kWidth);

    connect(out_, &QAbstractButton::clicked, this, [this] {
        const int pos = StepDown(GetPos(), step_, GetMin());
        if (pos == GetPos())
            return;
        SetPos(pos);
        Notify(kLineUp);
    });
    connect(in_, &QAbstractButton::clicked, this, [this] {
        const int pos = StepUp(GetPos(), step_, GetMax());
        if (pos == GetPos())
            return;
        SetPos(pos);
        Notify(kLineDown);
    });
    connect(slider_, &QSlider::sliderMoved, this, [this](int) { Notify(kThumbTrack); });
    connect(slider_, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            QMetaObject::invokeMethod(this, [this] { Notify(kThumbTrack); });
    });
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::ZoomBar);
}

CZoomCtrl::~CZoomCtrl() {
    CTabstopNavigator::RemoveWindow(this);
}

void CZoomCtrl::Notify(int code) {
    if (OnZoom)
        OnZoom(GetPos(), code);
}

void CZoomCtrl::SetRange(int minimum, int maximum) {
    slider_->setRange(minimum, maximum);
}
void CZoomCtrl::SetPos(int position) {
    slider_->setValue(position);
}
void CZoomCtrl::SetStep(int step) {
    step_ = step;
    slider_->setSingleStep(step);
    slider_->setPageStep(step);
}
void CZoomCtrl::SetSliderBackColor(QColor colour) {
    slider_->SetBackColor(colour);
}
int CZoomCtrl::GetPos() const {
    return slider_->value();
}
int CZoomCtrl::GetMin() const {
    return slider_->minimum();
}
int CZoomCtrl::GetMax() const {
    return slider_->maximum();
}

int CZoomCtrl::StepUp(int pos, int step, int maximum) {
    return pos + step <= maximum ? pos + step : pos;
}
int CZoomCtrl::StepDown(int pos, int step, int minimum) {
    return pos - step >= minimum ? pos - step : pos;
}

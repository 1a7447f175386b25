#include "ImgButton.h"

#include <QPainter>

#include "SkinAccess.h"

CImgButton::CImgButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void CImgButton::SetImageFiles(const QString& normal, const QString& hot, const QString& disabled,
                               const QString& pressed) {
    normal_ = normal;
    hot_ = hot;
    disabled_ = disabled;
    pressed_ = pressed;
    updateGeometry();
}

void CImgButton::SetDown(bool down) {
    if (hover_ == down)
        return;
    hover_ = down;
    update();
}

void CImgButton::EnsureImages() {
    if (strip_)
        return;
    strip_ = std::make_unique<MainInterface::CInterfaceImageList>();
    const QString folder = Skin::ResFolder();
    strip_->LoadStrip({folder + normal_, folder + hot_, folder + disabled_, folder + pressed_});
    cell_ = strip_->GetCellSize();
}

int CImgButton::CurrentCell() const {
    if (!strip_ || strip_->GetCount() == 0)
        return -1;
    int cell = 0;
    if (!isEnabled())
        cell = 2;
    else if (isDown() || isChecked())
        cell = 1;
    else if (hover_)
        cell = 3;
    return cell < strip_->GetCount() ? cell : 0;
}

QPoint CImgButton::CellOrigin(QSize area) const {
    int x;
    switch (Alignment) {
        case 1:
            x = 0;
            break;
        case 2:
            x = area.width() - cell_.width();
            break;
        default:
            x = (area.width() - cell_.width()) / 2;
            break;
    }
    QPoint at(x, (area.height() - cell_.height()) / 2);
    if (isDown())
        at += QPoint(1, 1);
    return at;
}

QSize CImgButton::sizeHint() const {
    if (cell_.isValid() && !cell_.isEmpty())
        return cell_;
    const QSize hint = Strip() ? Strip()->GetCellSize() : QSize();
    return hint.isEmpty() ? QSize(16, 16) : hint;
}

void CImgButton::paintEvent(QPaintEvent*) {
    if (normal_.isEmpty())
        return;
    EnsureImages();
    if (DrawMode != 0 && DrawMode != 1)
        return;
    QPainter painter(this);
    strip_->Draw(painter, CurrentCell(), CellOrigin(size()));
}

void CImgButton::enterEvent(QEnterEvent* event) {
    SetDown(true);
    QAbstractButton::enterEvent(event);
}

void CImgButton::leaveEvent(QEvent* event) {
    SetDown(false);
    QAbstractButton::leaveEvent(event);
}

CZoomButton::CZoomButton(const QString& text, QWidget* parent) : CImgButton(parent) {
    setText(text);
    normal_ = text == QLatin1String("+") ? QStringLiteral("ZoomIn.bmp") : QStringLiteral("ZoomOut.bmp");
}

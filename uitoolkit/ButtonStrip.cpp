#include "ButtonStrip.h"

#include <QImageReader>
#include <QKeyEvent>
#include <QPainter>

#include "Bitmap32.h"
#include "CommandIds.h"
#include "ImgButton.h"
#include "QtFileReading.h"
#include "SkinAccess.h"
#include "StringTable.h"
#include "TabstopNavigator.h"

namespace {

QString Tip(unsigned id) {
    return QString::fromUtf8(Res::LoadStr(id)).section('\n', 0, 0).left(79);
}

}  // namespace

CButtonStrip::CButtonStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("149"));
    colour_ = Skin::Color("BROWSER", "FOLDER STRIP COLOR", QColor(203, 219, 244));
    const QString back = Skin::String("FOLDERS DIALOG", "BACKGROUND FILE");
    if (!back.isEmpty()) {
        const std::string path = Skin::FilePath(Skin::ResFolder() + back);
        QFile file;
        QSize size;
        if (Platform::OpenForReading(file, path, Bitmap32::kMaxPictureFileBytes))
            size = QImageReader(&file, Platform::ImageFormatHint(path)).size();
        if (size.isValid())
            backgroundHeight_ = size.height();
    }
    auto makeButton = [this](int id, const char* key, int alignment, unsigned tip) {
        auto* button = new CImgButton(this);
        button->setObjectName(QString::number(id));
        const QString normal = Skin::String("FOLDERS DIALOG", key);
        const QString disabled =
            Skin::String("FOLDERS DIALOG", (QByteArray(key) + "Disabled").constData(), normal);
        const QString pressed =
            Skin::String("FOLDERS DIALOG", (QByteArray(key) + "Pressed").constData(), normal);
        button->SetImageFiles(normal, normal, disabled, pressed);
        button->DrawMode = 1;
        button->Alignment = alignment;
        button->m_nReserved = 0;
        button->setToolTip(Tip(tip));
        button->EnsureImages();
        const QSize cell = button->Strip() ? button->Strip()->GetCellSize() : QSize();
        button->resize(cell.isEmpty() ? QSize(80, 24) : cell);
        return button;
    };
    add_ = makeButton(kAddId, "AddButtonImage", 1, 334);
    remove_ = makeButton(kRemoveId, "RemoveButtonImage", 2, 333);
    connect(add_, &QAbstractButton::clicked, this, [this] { emit Command(CmdId::AddSelected); });
    connect(remove_, &QAbstractButton::clicked, this, [this] { emit Command(CmdId::RemoveSelected); });
    setFixedHeight(GetStripHeight());
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::ButtonStrip);
}

CButtonStrip::~CButtonStrip() {
    CTabstopNavigator::RemoveWindow(this);
}

int CButtonStrip::GetStripHeight() const {
    return backgroundHeight_ >= 0 ? backgroundHeight_ + 4 : 100;
}

void CButtonStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), colour_);
}

void CButtonStrip::resizeEvent(QResizeEvent*) {
    const int wA = add_->width(), wR = remove_->width(), hA = add_->height();
    const int groupWidth = 2 * wA + 24;
    const int left = (width() - groupWidth) / 2;
    const int top = (height() - hA) / 2;
    add_->setGeometry(left + groupWidth - wR, top, wR, hA);
    remove_->setGeometry(left, top, wR, hA);
    // Both buttons then take the strip's height, keeping their places.
    add_->resize(wR, height());
    remove_->resize(wR, height());
}

void CButtonStrip::keyPressEvent(QKeyEvent* event) {
    // Enter and Esc never hide the strip's buttons.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

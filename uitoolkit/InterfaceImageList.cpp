#include "InterfaceImageList.h"

#include <QFileInfo>
#include <QPainter>
#include <QTimer>
#include <filesystem>

#include "Bitmap32.h"
#include "SkinAccess.h"
#include "UiServices.h"

namespace MainInterface {

bool CInterfaceImageList::Load(const QString& path, unsigned cellWidth, bool flag, QColor colour) {
    image_ = QImage();
    cellWidth_ = cellWidth;
    flag_ = flag;
    colour_ = colour;
    fileName_ = path;
    if (path.isEmpty())
        return false;
    image_ = Bitmap32::LoadBitmap32(path);
    if (image_.isNull())
        return false;
    if (cellWidth_ == 0)
        cellWidth_ = unsigned(image_.height());
    return true;
}

bool CInterfaceImageList::LoadStrip(const QStringList& paths) {
    image_ = QImage();
    cellWidth_ = 0;
    int cell = 0;
    QSize first;
    for (const QString& path : paths) {
        if (!std::filesystem::exists(Skin::FilePath(path))) {
            // An unreadable file keeps its place: its cell stays transparent.
            ++cell;
            continue;
        }
        const QImage picture = Bitmap32::LoadBitmap32(path);
        if (picture.isNull())
            continue;
        if (image_.isNull()) {
            first = picture.size();
            image_ = QImage(first.width() * int(paths.size()), first.height(), QImage::Format_ARGB32);
            image_.fill(Qt::transparent);
            cellWidth_ = unsigned(first.width());
        } else if (picture.size() != first) {
            // Reported after the current paint, never from inside it.
            const QString text = QStringLiteral("Wrong image size, file: ") + path;
            QTimer::singleShot(0, [text] { UiServices::ShowMessage(nullptr, text); });
            continue;
        }
        for (int y = 0; y < first.height(); ++y) {
            const auto* src = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            auto* dst = reinterpret_cast<QRgb*>(image_.scanLine(y)) + cell * first.width();
            std::copy(src, src + first.width(), dst);
        }
        ++cell;
    }
    return !image_.isNull();
}

void CInterfaceImageList::Draw(QPainter& painter, int index, QPoint at) const {
    if (image_.isNull() || cellWidth_ == 0 || index < 0)
        return;
    const QRect source(int(cellWidth_) * index, 0, int(cellWidth_), image_.height());
    painter.drawImage(QRect(at, source.size()), image_, source);
}

QSize CInterfaceImageList::GetCellSize() const {
    return image_.isNull() ? QSize() : QSize(int(cellWidth_), image_.height());
}

int CInterfaceImageList::GetCount() const {
    return image_.isNull() || cellWidth_ == 0 ? 0 : image_.width() / int(cellWidth_);
}

}  // namespace MainInterface

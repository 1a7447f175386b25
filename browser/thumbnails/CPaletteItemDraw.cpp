// Layout and drawing of browser items: grid cells with a rounded frame, the
// thumbnail and the name; list rows with columns; and pictures drawn into
// any rectangle for other windows.

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "BrowserHost.h"
#include "BrowserSettings.h"
#include "CExifTagFormat.h"
#include "CFile.h"
#include "CPaletteItem.h"
#include "CommandIds.h"
#include "GuiFont.h"
#include "StringTable.h"

namespace {

constexpr int kCaptionHeight = 20;
constexpr int kListColumns[6] = {160, 330, 476, 572, 700, 828};  // at zoom 66

QFont CaptionFont() {
    QFont font(GetDefaultGuiFontName());
    font.setPointSize(8);
    return font;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// A dimmed copy: grey of 0.3 x (r + g + b), half the opacity.
QImage Dimmed(const QImage& source) {
    QImage out = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int grey = std::min(255, int(0.3 * (qRed(row[x]) + qGreen(row[x]) + qBlue(row[x]))));
            row[x] = qRgba(grey, grey, grey, qAlpha(row[x]) / 2);
        }
    }
    return out;
}

QRect Fitted(const QRect& rect, int w, int h) {
    if (w <= 0 || h <= 0)
        return rect;
    int64_t tw, th;
    if (int64_t(rect.height()) * w <= int64_t(rect.width()) * h) {
        th = rect.height();
        tw = int64_t(rect.height()) * w / h;
    } else {
        tw = rect.width();
        th = int64_t(rect.width()) * h / w;
    }
    return QRect(rect.x() + (rect.width() - int(tw)) / 2, rect.y() + (rect.height() - int(th)) / 2, int(tw),
                 int(th));
}

}  // namespace

int CPaletteItem::GetZoom() const {
    return g_nThumbnailSize;
}

bool CPaletteItem::IsDetailsView() const {
    return g_bThumbsListMode != 0;
}

QSize CPaletteItem::GetSize(int rowWidth) const {
    const double f = GetZoom() / 100.0;
    const int w = int(m_boxWidth * f + 0.5) + 12;
    const int h = int(m_boxHeight * f + 0.5);
    if (IsDetailsView())
        return {rowWidth, h + 12};
    return {w, h + 12 + (m_noCaption ? 0 : kCaptionHeight)};
}

QSize CPaletteItem::GetCellSize(int zoom, bool details, int rowWidth) {
    const int h = int(zoom * 165 / 100.0 + 0.5) + (details ? 12 : 32);
    const int w = details ? rowWidth : int(zoom * 220 / 100.0 + 0.5) + 12;
    return {w, h};
}

int CPaletteItem::ListColumn(int index, int zoom) {
    const int p0 = 160 * zoom / 66;
    return kListColumns[std::clamp(index, 0, 5)] + p0 - 160;
}

QRect CPaletteItem::GetThumbRect() const {
    const QSize size = GetSize();
    QRect area(0, 0, size.width(), size.height());
    if (IsDetailsView()) {
        area.setRight(ListColumn(0, GetZoom()) - 1);
        return area;
    }
    area.adjust(6, 6, -6, -6);
    if (!m_noCaption)
        area.setBottom(area.bottom() - kCaptionHeight);
    return area;
}

QRect CPaletteItem::GetDrawRect() const {
    const QRect area = GetThumbRect();
    const double f = GetZoom() / 100.0;
    const int w = int(m_thumbWidth * f + 0.5);
    const int h = int(m_thumbHeight * f + 0.5);
    return QRect(area.left() + (area.width() - w) / 2, area.top() + (area.height() - h) / 2, w, h);
}

QRegion CPaletteItem::GetRegion() const {
    return IsDetailsView() ? QRegion() : QRegion(GetThumbRect());
}

QRegion CPaletteItemImg::GetRegion() const {
    if (IsDetailsView())
        return QRegion();
    if (HasThumbnail() && !m_noCaption)
        return QRegion(GetThumbRect()).subtracted(QRegion(GetDrawRect()));
    return QRegion(GetThumbRect());
}

void CPaletteItem::Draw(QPainter& painter, const QPoint& origin, const std::string& path, bool selected,
                        bool dimmed, CFrameCache& frames) {
    const QRect cell(origin, GetSize(frames.rowWidth));
    const BrowserColours colours = BrowserHost().Colours();
    if (painter.hasClipping() && !painter.clipBoundingRect().intersects(cell))
        return;
    painter.save();
    painter.translate(origin);
    const QRect local(QPoint(0, 0), cell.size());
    const QRegion region = GetRegion();
    for (const QRect& part : region)
        painter.fillRect(part, dimmed ? colours.inFrameCut : colours.inFrame);
    DrawThumbnail(painter, local, path, dimmed);
    DrawInfo(painter, local);
    DrawDetails(painter, local, path, selected);
    if (!IsDetailsView())
        DrawBackground(painter, local, selected, frames);
    DrawCaption(painter, local, path, selected);
    painter.restore();
}

void CPaletteItem::DrawBackground(QPainter& painter, const QRect& cell, bool selected, CFrameCache& frames) {
    const QSize size = cell.size();
    QRect inner = cell.adjusted(6, 6, -6, -6);
    if (!m_noCaption)
        inner.setBottom(inner.bottom() - kCaptionHeight);
    if (frames.cell != size || frames.normal.isNull() || frames.selected.isNull()) {
        frames.cell = size;
        const BrowserColours colours = BrowserHost().Colours();
        for (int which = 0; which < 2; ++which) {
            QImage image(size, QImage::Format_ARGB32_Premultiplied);
            image.fill(colours.background);
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.setClipRegion(QRegion(image.rect()).subtracted(QRegion(inner)));
            const QColor colour = which ? colours.selectedBorder : colours.border;
            p.fillRect(QRect(13, 13, size.width() - 26, size.height() - 26), colour);
            QPen pen(colour, 12);
            pen.setJoinStyle(Qt::RoundJoin);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(8, 8, size.width() - 16, size.height() - 16));
            p.end();
            (which ? frames.selected : frames.normal) = image;
        }
    }
    painter.save();
    painter.setClipRegion(QRegion(cell).subtracted(QRegion(inner)), Qt::IntersectClip);
    painter.drawImage(cell.topLeft(), selected ? frames.selected : frames.normal);
    painter.restore();
}

void CPaletteItem::DrawCaption(QPainter& painter, const QRect& cell, const std::string& path, bool selected) {
    if (m_noCaption)
        return;
    const QString name = QString::fromStdString(FileNameOf(path));
    const QFont font = CaptionFont();
    const QFontMetrics metrics(font);
    QRect rect;
    if (IsDetailsView()) {
        const int p0 = ListColumn(0, GetZoom()), p1 = ListColumn(1, GetZoom());
        rect = QRect(p0, cell.top() + (cell.height() - kCaptionHeight) / 2, p1 - p0, kCaptionHeight);
    } else {
        rect = QRect(cell.left() + 10, cell.bottom() + 1 - kCaptionHeight, cell.width() - 20,
                     metrics.height() + 1);
    }
    m_captionRect = rect;
    m_captionTextWidth = metrics.horizontalAdvance(name);
    painter.save();
    painter.setFont(font);
    const BrowserColours colours = BrowserHost().Colours();
    painter.setPen(selected ? colours.selectedText : colours.text);
    const int vertical = IsDetailsView() ? Qt::AlignVCenter : Qt::AlignTop;
    if (rect.width() <= 0 || m_captionTextWidth < rect.width() - 3) {
        m_captionScrolling = 0;
        m_captionScroll = 0;
        painter.drawText(rect, Qt::AlignHCenter | vertical | Qt::TextSingleLine, name);
    } else {
        m_captionScrolling = 1;
        if (!selected) {
            painter.drawText(rect, Qt::AlignHCenter | vertical | Qt::TextSingleLine,
                             metrics.elidedText(name, Qt::ElideRight, rect.width()));
        } else {
            painter.setClipRect(rect, Qt::IntersectClip);
            painter.drawText(rect.translated(-m_captionScroll, 0).adjusted(0, 0, m_captionTextWidth + 100, 0),
                             Qt::AlignLeft | vertical | Qt::TextSingleLine, name);
        }
    }
    painter.restore();
}

QRect CPaletteItem::ScrollCaption() {
    if (!m_captionScrolling) {
        m_captionScroll = 0;
        return {};
    }
    m_captionScroll += 5;
    if (m_captionScroll > m_captionTextWidth)
        m_captionScroll = -m_captionRect.width();
    return m_captionRect;
}

void CPaletteItemImg::DrawPlaceholder(QPainter& painter, const QRect& rect, const std::string& path) {
    const QPoint corner = rect.center() - QPoint(16, 16);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A page with a folded corner.
    QPainterPath page;
    page.moveTo(corner + QPointF(5.5, 1.5));
    page.lineTo(corner + QPointF(21.5, 1.5));
    page.lineTo(corner + QPointF(27.5, 7.5));
    page.lineTo(corner + QPointF(27.5, 30.5));
    page.lineTo(corner + QPointF(5.5, 30.5));
    page.closeSubpath();
    painter.setPen(QPen(QColor(110, 120, 140), 1));
    painter.setBrush(QColor(250, 250, 252));
    painter.drawPath(page);
    painter.fillRect(QRect(corner + QPoint(2, 10), QSize(24, 9)), QColor(70, 110, 190));
    // The extension in white on the band.
    QFont small(QStringLiteral("Small fonts"));
    small.setPixelSize(8);
    painter.setFont(small);
    painter.setPen(Qt::white);
    painter.drawText(QRect(corner + QPoint(2, 10), QSize(23, 8)), Qt::AlignCenter,
                     QString::fromStdString(ExtensionOf(path)).toUpper());
    painter.restore();
}

void CPaletteItemImg::DrawThumbnail(QPainter& painter, const QRect&, const std::string& path, bool dimmed) {
    std::shared_ptr<CDibBuffer> pixels;
    try {
        pixels = Decompress();
    } catch (const std::exception&) {
        // A damaged block draws as a placeholder.
    }
    if (!pixels) {
        QString ext = QString::fromStdString(ExtensionOf(path));
        if (GetZoom() > 19 && ext.compare(QStringLiteral("wav"), Qt::CaseInsensitive) != 0)
            DrawPlaceholder(painter, GetThumbRect(), path);
        return;
    }
    const QImage image = pixels->ToImage();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(GetDrawRect(), dimmed ? Dimmed(image) : image);
    painter.restore();
}

void CPaletteItemImg::DrawDetails(QPainter& painter, const QRect& cell, const std::string& path,
                                  bool selected) {
    if (!IsDetailsView())
        return;
    const int zoom = GetZoom();
    const int p[4] = {ListColumn(0, zoom), ListColumn(1, zoom), ListColumn(2, zoom), ListColumn(3, zoom)};
    painter.save();
    painter.setPen(BrowserHost().Colours().detailsSeparator);
    painter.drawLine(0, cell.bottom(), cell.width(), cell.bottom());
    for (int x : p)
        painter.drawLine(x, cell.top(), x, cell.bottom());
    CFileStatus status;
    if (!CFile::GetStatus(path, status)) {
        painter.restore();
        BrowserHost().PostMainWindowCommand(CmdId::ReadAgain);  // "Refresh": the file went behind our back
        return;
    }
    painter.setFont(CaptionFont());
    painter.setPen(selected ? QColor(255, 0, 0) : QColor(0, 0, 0));
    const int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    if (m_sourceWidth > 0) {
        painter.drawText(QRect(p[1], cell.top(), p[2] - p[1], cell.height()), flags | Qt::AlignHCenter,
                         QString::asprintf(Res::LoadStr(139), m_sourceWidth, m_sourceHeight, m_bitsPerPixel));
    }
    painter.drawText(QRect(p[2], cell.top(), p[3] - p[2], cell.height()), flags | Qt::AlignHCenter,
                     QString::asprintf(Res::LoadStr(184), unsigned((status.m_size + 1023) / 1024)));
    painter.drawText(
        QRect(p[3] + 3, cell.top(), 220, cell.height()), flags | Qt::AlignLeft,
        QString::fromStdString(LocaleDateTimeText(QDateTime::fromSecsSinceEpoch(status.m_mtime))));
    painter.restore();
}

void CPaletteItemImg::DrawPicture(QPainter& painter, const QRect& rect, const std::string& path, bool) {
    std::shared_ptr<CDibBuffer> pixels;
    try {
        pixels = Decompress();
    } catch (const std::exception&) {
    }
    if (!pixels) {
        DrawPlaceholder(painter, rect, path);
        return;
    }
    const QImage image = pixels->ToImage();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(Fitted(rect, image.width(), image.height()), image);
    painter.restore();
}

void CPaletteItemImg::DrawPictureLandscape(QPainter& painter, const QRect& rect, const std::string& path,
                                           bool fill) {
    std::shared_ptr<CDibBuffer> pixels;
    try {
        pixels = Decompress();
    } catch (const std::exception&) {
    }
    if (!pixels) {
        DrawPlaceholder(painter, rect, path);
        return;
    }
    QImage image = pixels->ToImage();
    if (image.height() > image.width()) {
        // A quarter turn clockwise: the stored buffer's pixel (row x, column k)
        // goes to (row H - 1 - k, column x), rows counted from the bottom.
        image = image.transformed(QTransform().rotate(90));
    }
    QRect source = image.rect();
    QRect target = Fitted(rect, image.width(), image.height());
    if (fill) {
        target = rect;
        source = Fitted(image.rect(), rect.width(), rect.height());
    }
    painter.drawImage(target, image, source);
}

#include "CThumbsPainter.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

#include "BrowserHost.h"
#include "CThumbsBrowser.h"
#include "GuiFont.h"
#include "StringTable.h"

namespace {

enum : unsigned {
    IDS_HEADER_PICTURE = 0xFB11,
};

}  // namespace

void CThumbsPainter::DrawPane(QPainter& painter, QSize client, QPoint scroll) {
    int first, last;
    m_browser.Layout().VisibleRange(client, scroll, first, last);
    if (m_browser.IsDetailsView())
        DrawDetailsHeader(painter, client.width());
    if (m_browser.ManyFiles()) {
        std::vector<std::string> missing;
        const std::vector<std::string> paths = m_browser.Paths();
        {
            std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
            for (int i = first; i <= last && static_cast<size_t>(i) < paths.size(); ++i) {
                ThumbItemPtr item;
                if (!g_ThumbCache.Lookup(paths[i], item))
                    missing.insert(missing.begin(), paths[i]);
            }
        }
        if (!missing.empty())
            m_builder.Prioritize(missing);
    }
    for (int i = first; i <= last; ++i)
        m_browser.DrawItem(painter, i, client.width(), scroll);
    DrawBand(painter);
}

void CThumbsPainter::DrawItem(QPainter& painter, int index, int clientWidth, QPoint scroll) {
    const std::string path = m_browser.Listing().PathAt(index);
    if (path.empty())
        return;
    const QRect cell = m_browser.GetItemRect(index, clientWidth).translated(-scroll);
    if (!painter.clipBoundingRect().isEmpty() &&
        !cell.adjusted(-1, -1, 1, 1).intersects(painter.clipBoundingRect().toAlignedRect()))
        return;
    const bool cut = m_browser.IsCut(path);
    const bool selected = m_browser.IsSelected(path);
    m_frames.rowWidth = m_browser.GetListRowWidth();
    {
        // Held across look-up and drawing: a builder thread may replace the entry.
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        ThumbItemPtr cached;
        if (g_ThumbCache.Lookup(path, cached) && cached) {
            cached->Draw(painter, cell.topLeft(), path, selected, cut, m_frames);
            return;
        }
    }
    std::shared_ptr<CPaletteItem> placeholder = m_browser.NewItem();
    placeholder->Draw(painter, cell.topLeft(), path, selected, cut, m_frames);
}

void CThumbsPainter::DrawDetailsHeader(QPainter& painter, int clientWidth) {
    const int zoom = g_nThumbnailSize;
    const BrowserColours colours = BrowserHost().Colours();
    const QRect band(0, 0, clientWidth, kListTopMargin);
    painter.save();
    painter.fillRect(band, colours.detailsTab);
    painter.setPen(colours.detailsSeparator);
    painter.drawRect(band.adjusted(0, 0, -1, -1));
    int bounds[5];
    for (int i = 0; i < 4; ++i) {
        bounds[i] = CPaletteItem::ListColumn(i, zoom);
        painter.drawLine(bounds[i], band.top(), bounds[i], band.bottom());
    }
    bounds[4] = std::max(bounds[3] + 220, m_browser.GetListRowWidth());
    QFont font(GetDefaultGuiFontName());
    font.setPointSize(8);
    painter.setFont(font);
    painter.setPen(Qt::black);
    int left = 0;
    for (int i = 0; i < 5; ++i) {
        const QRect column(left, band.top(), bounds[i] - left, band.height());
        painter.drawText(column, Qt::AlignCenter | Qt::TextSingleLine,
                         QString::fromUtf8(Res::LoadStr(IDS_HEADER_PICTURE + i)));
        left = bounds[i];
    }
    painter.restore();
}

void CThumbsPainter::DrawBand(QPainter& painter) const {
    const QRect band = m_browser.BandRect();
    if (band.isNull())
        return;
    painter.save();
    painter.setPen(QPen(QColor(255, 0, 0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(band);
    painter.restore();
}

#pragma once
// Paints the thumbnail pane from the browser's listing, selection, cut
// list and layout: the cells a view shows (each item from its cached
// thumbnail, or a placeholder), the details header of the list view and
// the rubber band. With many files, visible cells without a thumbnail are
// pulled forward in the builder's queue.

#include <QPoint>
#include <QSize>

#include "CPaletteItem.h"

class CThumbsBrowser;
class CThumbsBuilderThreads;
class QPainter;

class CThumbsPainter {
public:
    CThumbsPainter(CThumbsBrowser& browser, CThumbsBuilderThreads& builder)
        : m_browser(browser), m_builder(builder) {}

    void DrawPane(QPainter& painter, QSize client, QPoint scroll);
    void DrawItem(QPainter& painter, int index, int clientWidth, QPoint scroll);
    void DrawDetailsHeader(QPainter& painter, int clientWidth);
    void DrawBand(QPainter& painter) const;

private:
    CThumbsBrowser& m_browser;
    CThumbsBuilderThreads& m_builder;
    CFrameCache m_frames;
};

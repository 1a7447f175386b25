#pragma once
// Zoom levels, image/client conversions and scroll-bar layout of the picture
// views, as plain arithmetic so that the widgets only apply the results.

#include <QPoint>
#include <span>

#include "OrvexBase.h"

namespace ZoomGeometry {

// The zoom view's 18 levels and the preview pane's 16, in percent.
extern const double kViewLevels[18];
extern const double kPaneLevels[16];
constexpr double kMinZoom = 1.0;
constexpr double kMaxZoom = 400.0;

double ClampZoom(double zoom);
// Index of the view level nearest to zoom (limited to [1, 400]); a tie goes
// to the lower index.
int NearestZoomIndex(double zoom);
// The first level above zoom (up) or the last below it, zoom first limited to
// [1, 400]; zoom itself when there is none.
double NextZoomLevel(std::span<const double> levels, double zoom, bool up);
// The zoom that fits an image into width x height less a margin on each side,
// limited to [1, 400]; 100 for an image without pixels.
double FitZoom(int width, int height, int imageWidth, int imageHeight, int margin = 0);
// The zoom that fits one extent (fit height / fit width), limited to [1, 400].
double FitExtentZoom(int clientExtent, int imageExtent, int margin = 0);
// The zoomed image plus twice the margin, at least 1 per axis.
OrvexBase::Size ContentSize(int imageWidth, int imageHeight, double zoom, int margin = 0);
// Per axis: centred (negative or zero) when the content is smaller than the
// client, otherwise the target limited to [0, content - client].
int CentreOrClamp(int target, int content, int client);

// The state a conversion needs: scroll position s, zoom z (percent), image
// height H and the margin around the image (preview pane only).
struct Mapping {
    QPoint scroll;
    double zoom = 100.0;
    int imageHeight = 0;
    int margin = 0;
};

// Point forms of the zoom view.
QPoint ViewClientToImage(const Mapping& m, QPoint p);
QPoint ViewImageToClient(const Mapping& m, QPoint p);
// Point forms of the preview pane (half a zoomed pixel further, one row lower).
QPoint PaneClientToImage(const Mapping& m, QPoint p);
QPoint PaneImageToClient(const Mapping& m, QPoint p);
// Rectangle forms shared by both (the zoom view passes margin 0). The image
// rectangle's top is its lower edge: image y points up.
OrvexBase::Rect RectClientToImage(const Mapping& m, const OrvexBase::Rect& r);
OrvexBase::Rect RectImageToClient(const Mapping& m, const OrvexBase::Rect& r);

// Layout of the two scroll bars for a content of size total in an area whose
// client part is client while the bars shown now are hShown/vShown.
struct BarsInput {
    OrvexBase::Size client;
    bool hShown = false;
    bool vShown = false;
    OrvexBase::Size total;
    int barWidth = 0;   // the vertical bar's width
    int barHeight = 0;  // the horizontal bar's height
    QPoint position;    // the bars' positions now
    bool centre = true;
};
struct BarsLayout {
    bool needH = false;
    bool needV = false;
    OrvexBase::Size available;  // the client area once the needed bars are in
    OrvexBase::Size range;      // total - available, 0 when the content fits
    QPoint position;            // negative when a smaller content is centred
};
BarsLayout LayoutBars(const BarsInput& in);

// New scroll position of a scroll by (dx, dy) with per-axis limits; an axis
// that cannot scroll keeps its position.
QPoint ScrollBy(QPoint position, int dx, int dy, QPoint limit, bool canScrollH, bool canScrollV);

}  // namespace ZoomGeometry

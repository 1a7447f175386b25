#pragma once
// What the main view does with its picture view: the zoom commands go to it
// when it exists, the main window asks it for the zoom text, and a new result
// is handed to it. The main view calls these with its picture view (or null
// before the view is made).

#include <QString>

class CPictureView;
namespace PanoramaLib {
class IPanoElement;
}

namespace ResultView {

// True when the command was a zoom command and the view took it.
bool RouteCommand(CPictureView* view, int id);
// True when the view decided the command's state; false leaves it unchanged.
bool RouteUpdateCommand(const CPictureView* view, int id, bool* enabled);
// "150 %" while the view shows a picture, else empty.
QString ZoomText(const CPictureView* view);
// Without fit the view shows the result and repaints at once; with fit it
// takes it without repainting and fits it to its window, repainting at once
// when there is no result.
void ShowResult(CPictureView* view, PanoramaLib::IPanoElement* result, bool fit);

}  // namespace ResultView

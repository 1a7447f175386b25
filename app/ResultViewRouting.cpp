#include "ResultViewRouting.h"

#include "PictureView.h"

namespace ResultView {

bool RouteCommand(CPictureView* view, int id) {
    return view && ViewCmd::IsZoomCommand(id) && view->OnCommand(id);
}

bool RouteUpdateCommand(const CPictureView* view, int id, bool* enabled) {
    return view && view->OnUpdateCommand(id, enabled);
}

QString ZoomText(const CPictureView* view) {
    QString text;
    if (view)
        view->GetZoomText(text);
    return text;
}

void ShowResult(CPictureView* view, PanoramaLib::IPanoElement* result, bool fit) {
    if (!view)
        return;
    if (!fit) {
        view->SetImage(result, true);
        view->viewport()->repaint();
        return;
    }
    view->SetImage(result, false);
    view->FitToWindow(true);
    if (!result)
        view->viewport()->repaint();
}

}  // namespace ResultView

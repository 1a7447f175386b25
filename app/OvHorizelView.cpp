#include "OvHorizelView.h"

#include "CommandIds.h"
#include "ViewPrinting.h"

#include "CImgThumbsBrowser.h"
#include "CThumbsWnd.h"
#include "PictureView.h"
#include "ResultViewRouting.h"
#include "SkinAccess.h"
#include "TabstopNavigator.h"

COvHorizelView::COvHorizelView(IPictureViewDocument* document, QWidget* parent) : QWidget(parent) {
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    // The program's one browser exists before its frame, which shows it.
    browser_ = std::make_unique<CImgThumbsBrowser>();
    g_pThumbsBrowser = browser_.get();
    browser_->StartFolderMonitor();
    thumbsWnd_ = new CThumbsWnd(this);
    picture_ = new CPictureView(document, this);
    stack_->addWidget(thumbsWnd_);
    stack_->addWidget(picture_);
    CTabstopNavigator::AddWindow(picture_, CTabstopNavigator::PictureView);
}

COvHorizelView::~COvHorizelView() {
    DestroyBrowser();
}

void COvHorizelView::DestroyBrowser() {
    if (!browser_)
        return;
    browser_->StopFolderMonitor();
    delete thumbsWnd_;
    thumbsWnd_ = nullptr;
    if (g_pThumbsBrowser == browser_.get())
        g_pThumbsBrowser = nullptr;
    browser_.reset();
}

CButtonStrip* COvHorizelView::Strip() const {
    return thumbsWnd_ ? thumbsWnd_->Strip() : nullptr;
}

void COvHorizelView::ShowBrowser() {
    if (thumbsWnd_)
        stack_->setCurrentWidget(thumbsWnd_);
}
void COvHorizelView::ShowPictureView() {
    stack_->setCurrentWidget(picture_);
}
bool COvHorizelView::IsBrowserShown() const {
    return thumbsWnd_ && stack_->currentWidget() == thumbsWnd_;
}

QString COvHorizelView::GetZoomText() const {
    return ResultView::ZoomText(picture_);
}

int COvHorizelView::GetZoomIndex() const {
    return picture_->GetImage() ? picture_->GetZoomIndex() : 0;
}

void COvHorizelView::ShowResult(PanoramaLib::IPanoElement* result, bool fit) {
    ResultView::ShowResult(picture_, result, fit);
}

bool COvHorizelView::OnCmdMsg(int id) {
    switch (id) {
        case CmdId::FilePrint:
        case CmdId::FilePrintDirect:
            if (printing_)
                printing_->OnFilePrint(id == CmdId::FilePrint, window());
            return true;
        case CmdId::FilePrintPreview:
            if (printing_)
                printing_->OnFilePrintPreview(window());
            return true;
        default:
            break;
    }
    return ResultView::RouteCommand(picture_, id);
}

bool COvHorizelView::OnUpdateCmdUI(CCmdUI& ui) {
    bool enabled = ui.enabled;
    if (!ResultView::RouteUpdateCommand(picture_, ui.id, &enabled))
        return false;
    ui.Enable(enabled);
    return true;
}

#pragma once
// The main view: a container for the photo browser (task 1) and the picture
// view (tasks 2 and 3), each filling it; the zoom commands go to the picture
// view. The view makes the program's browser model (g_pThumbsBrowser) and
// its frame, CThumbsWnd.

#include <QStackedLayout>
#include <QWidget>

#include <memory>
#include <string>
#include "ButtonStrip.h"
#include "CommandRouter.h"

class CImgThumbsBrowser;
class CPictureView;
class CThumbsWnd;
class CViewPrinting;
namespace PanoramaLib {
class IPanoElement;
}
class IPictureViewDocument;

class COvHorizelView : public QWidget, public ICommandTarget {
    Q_OBJECT
public:
    COvHorizelView(IPictureViewDocument* document, QWidget* parent = nullptr);
    ~COvHorizelView() override;

    // The photo browser model; null once DestroyBrowser ran.
    CImgThumbsBrowser* Browser() const { return browser_.get(); }
    // The browser's frame: strips and thumbnails.
    CThumbsWnd* ThumbsWnd() const { return thumbsWnd_; }
    // The Add/Remove strip above the browser.
    CButtonStrip* Strip() const;
    // Ends the browser (its frame first) while the program's host still
    // serves it; the window's destruction does it otherwise.
    void DestroyBrowser();
    CPictureView* PictureView() const { return picture_; }
    void ShowBrowser();
    void ShowPictureView();
    bool IsBrowserShown() const;
    // "%i %%" of the picture's zoom; empty without a picture.
    QString GetZoomText() const;
    // The zoom bar's index (0..17) of the picture's zoom.
    int GetZoomIndex() const;
    // Shows the result: without fit at once, with fit fitted to the window.
    void ShowResult(PanoramaLib::IPanoElement* result, bool fit);

    // Printing runs through the view ("P&rint", "Print Pre&view"); not owned.
    void SetPrinting(CViewPrinting* printing) { printing_ = printing; }
    CViewPrinting* Printing() const { return printing_; }

    // The six zoom commands, when the picture view takes them, and printing.
    bool OnCmdMsg(int id) override;
    bool OnUpdateCmdUI(CCmdUI& ui) override;

private:
    QStackedLayout* stack_;
    std::unique_ptr<CImgThumbsBrowser> browser_;
    CThumbsWnd* thumbsWnd_ = nullptr;
    CPictureView* picture_;
    CViewPrinting* printing_ = nullptr;
};

#pragma once
// The main view: a container for the photo browser (task 1) and the picture
// view (tasks 2 and 3), each filling it; the zoom commands go to the picture
// view. Until the photo browser exists, CFolderFilesStandIn lists the image
// files of a folder in its place.

#include <QListWidget>
#include <QStackedLayout>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>
#include "ButtonStrip.h"
#include "CommandRouter.h"

class CPictureView;
class CViewPrinting;
namespace PanoramaLib {
class IPanoElement;
}
class IPictureViewDocument;

// Stand-in for the photo browser: the readable image files of one folder.
class CFolderFilesStandIn : public QListWidget {
    Q_OBJECT
public:
    explicit CFolderFilesStandIn(QWidget* parent = nullptr);
    void ShowFolder(const QString& folder);
    const QString& Folder() const { return folder_; }
    std::vector<std::string> SelectedFiles() const;

protected:
    // Dragged files go as a file list, which the photo strip takes.
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;
    // Copies only: a drop never takes a file out of the list.
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }

private:
    QString folder_;
};

class COvHorizelView : public QWidget, public ICommandTarget {
    Q_OBJECT
public:
    COvHorizelView(IPictureViewDocument* document, QWidget* parent = nullptr);

    CFolderFilesStandIn* Browser() const { return browser_; }
    // The Add/Remove strip above the browser.
    CButtonStrip* Strip() const { return strip_; }
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
    QWidget* browserPage_;
    CButtonStrip* strip_;
    CFolderFilesStandIn* browser_;
    CPictureView* picture_;
    CViewPrinting* printing_ = nullptr;
};

#pragma once
// The main view: a container for the photo browser (task 1) and the picture
// view (tasks 2 and 3), each filling it. Until those windows exist, named
// stand-ins take their places: CFolderFilesStandIn lists the image files of a
// folder, CPictureStandIn shows the project's photos waiting to be stitched.

#include <QListWidget>
#include <QStackedLayout>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>
#include "ButtonStrip.h"

// Stand-in for the photo browser: the readable image files of one folder.
class CFolderFilesStandIn : public QListWidget {
    Q_OBJECT
public:
    explicit CFolderFilesStandIn(QWidget* parent = nullptr);
    void ShowFolder(const QString& folder);
    const QString& Folder() const { return folder_; }
    std::vector<std::string> SelectedFiles() const;

private:
    QString folder_;
};

// Stand-in for the picture view: what would be stitched, as a note.
class CPictureStandIn : public QWidget {
    Q_OBJECT
public:
    explicit CPictureStandIn(QWidget* parent = nullptr);
    void SetPhotoCount(size_t count);
    void SetTask(int task);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    size_t count_ = 0;
    int task_ = 2;
};

class COvHorizelView : public QWidget {
    Q_OBJECT
public:
    explicit COvHorizelView(QWidget* parent = nullptr);

    CFolderFilesStandIn* Browser() const { return browser_; }
    // The Add/Remove strip above the browser.
    CButtonStrip* Strip() const { return strip_; }
    CPictureStandIn* PictureView() const { return picture_; }
    void ShowBrowser();
    void ShowPictureView();
    bool IsBrowserShown() const;
    // "%i %%" of the picture's zoom; empty without a picture.
    QString GetZoomText() const { return {}; }
    // The zoom bar's index (0..17) of the picture's zoom.
    int GetZoomIndex() const { return 0; }

private:
    QStackedLayout* stack_;
    QWidget* browserPage_;
    CButtonStrip* strip_;
    CFolderFilesStandIn* browser_;
    CPictureStandIn* picture_;
};

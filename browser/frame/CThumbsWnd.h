#pragma once
// The photo browser's frame in task 1: the button strip (Add, Remove) and
// the visited-folders strip on top, the thumbnails below, or the details
// list in their place when the list mode asks for it.

#include <QWidget>

#include <string>

class CButtonStrip;
class CFilesList;
class CImgThumbsBrowser;
class CThumbsView;
class CVisitedFolders;

class CThumbsWnd : public QWidget {
    Q_OBJECT
public:
    explicit CThumbsWnd(QWidget* parent = nullptr);
    ~CThumbsWnd() override;

    // The program's browser (g_pThumbsBrowser).
    virtual CImgThumbsBrowser* GetBrowser() const;

    // Shows the details list (true) or the thumbnails (false).
    void SetViewMode(bool list);
    // The mode the list-mode flag asks for (the host's files-list mode).
    void ActivateView();
    // The visited-folders strip shows location, unless it sent it itself.
    void AddVisitedFolder(const std::string& location, const void* sender);
    // Refused while the thumbnail view holds the mouse; else the view goes
    // first, then the frame (later, from the event loop).
    bool DestroyWindow();

    CThumbsView* View() const { return m_pView; }
    CButtonStrip* Strip() const { return m_strip; }
    CVisitedFolders* Visited() const { return m_visited; }
    CFilesList* FilesList() const { return m_pList; }

protected:
    virtual CThumbsView* CreateThumbsView();
    // The details list over the browser; may be null (the thumbnails always show).
    virtual CFilesList* CreateFilesList();
    virtual void CreateContent();
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void Layout();

    CThumbsView* m_pView = nullptr;
    CVisitedFolders* m_visited = nullptr;
    CButtonStrip* m_strip = nullptr;
    CFilesList* m_pList = nullptr;
    bool m_bShowStrips = true;
};

#pragma once
// The source side of a drag of the browser's files to other programs or
// back into the pane: a QDrag bound to its browser, which keeps the drop-gap
// animation and the cursor up to date while the drag runs.

#include <Qt>

class CThumbsBrowser;
class QMimeData;
class QWidget;

class CMyOleDropSource {
public:
    explicit CMyOleDropSource(CThumbsBrowser* browser) : m_pBrowser(browser) {}

    // Runs the drag of data (owned by the drag from then on) from source;
    // the action the target took, Qt::IgnoreAction when it was cancelled.
    Qt::DropAction DoDragDrop(QWidget* source, QMimeData* data);

private:
    void OnBeginDrag();

    CThumbsBrowser* m_pBrowser;
};

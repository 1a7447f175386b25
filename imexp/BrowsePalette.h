#pragma once
// "Browse": a floating palette beside the library's open dialog with a
// thumbnail of every readable file of the dialog's folder. A click selects
// the file in the dialog, a double click opens it. Thumbnails not yet in the
// cache are made a few at a time from a timer, so the dialog stays usable and
// no event loop runs inside the palette's own code.

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <set>

#include "UiHost.h"

class QMenu;
class QPushButton;
class QScrollBar;
class QTimer;

namespace formgate {

class CImExpOpenDialog;

class CBrowsePalette : public QWidget {
public:
    CBrowsePalette(CImExpOpenDialog* dialog, QPushButton* button, std::unique_ptr<BrowsePaletteModel> model);
    ~CBrowsePalette() override;

    // The readable files of the dialog's folder under its type, then their thumbnails.
    void Fill();
    // Refills only when the folder's readable files changed.
    void Refresh();
    // Selects what the dialog's file-name box names.
    void FollowSelection();

    const QStringList& Paths() const { return paths_; }
    int Columns() const;
    int ScrollRow() const;
    bool Filling() const;
    // The index under a point of the client area, or -1.
    int IndexAt(const QPoint& point) const;
    BrowsePaletteModel& Model() { return *model_; }
    QMenu* ContextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // What closing does once: the settings and the cache are stored, the
    // dialog's button reads "&Browse..." again.
    void Finish();
    QStringList ReadablePaths() const;
    void MakeSome();
    void UpdateScrollRange();
    int ClientWidth() const;

    QPointer<CImExpOpenDialog> dialog_;
    QPointer<QPushButton> button_;
    std::unique_ptr<BrowsePaletteModel> model_;
    QStringList paths_;
    std::set<QString> selected_;
    int nextToMake_ = 0;
    QScrollBar* scroll_ = nullptr;
    QTimer* maker_ = nullptr;
    QMenu* menu_ = nullptr;
    bool finished_ = false;
};

}  // namespace formgate

#pragma once
// The main window's keyboard ring: Tab moves the focus to the next registered
// pane, Shift+Tab to the previous one, in a fixed order, skipping panes that
// are hidden or disabled. Inside a dialog-like pane Tab first runs through its
// controls and leaves only from the last one (backwards, the first).
//
// One navigator per process, installed as an application event filter so it
// sees each key before the widget's own Tab handling. Every call while none
// exists does nothing.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <climits>
#include <vector>

class QKeyEvent;

class CTabstopNavigator : public QObject {
    Q_OBJECT
public:
    // Orders of the panes.
    enum Order {
        TaskTabs = 1,
        ZoomBar = 2,
        PhotoStrip = 3,
        TaskPage = 4,
        FolderTree = 4,
        ButtonStrip = 5,
        PictureView = 5,
        VisitedFolders = 6,
        ThumbnailView = 7,
        Last = INT_MAX,
    };

    struct CWndData {
        int order;
        QPointer<QWidget> pane;
        bool dialogLike;
    };

    // Creates the process's navigator and installs it on the application.
    static void Create();
    static void Destroy();
    static CTabstopNavigator* Instance();

    // A pane already present keeps its place. Dialog-like panes pass Tab to
    // their own controls first. False when there is no navigator.
    static bool AddWindow(QWidget* pane, int order, bool dialogLike = false);
    static bool RemoveWindow(QWidget* pane);
    // True when the key was used (the focus moved).
    static bool PreTranslateMessage(QObject* target, QEvent* event);
    // The next eligible pane after (or before) `pane`, wrapping; null when
    // none other is eligible or `pane` is not registered.
    static QWidget* GetNextPane(QWidget* pane, bool backward);

    const std::vector<CWndData>& Panes() const { return panes_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CTabstopNavigator() = default;
    const CWndData* FindPaneOf(QWidget* w) const;
    static bool TakeFocus(QWidget* pane);

    std::vector<CWndData> panes_;
};

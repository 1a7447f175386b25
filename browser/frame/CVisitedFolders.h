#pragma once
// The narrow strip above the thumbnails that shows where the browser is and
// where it has been: a drop-down list of the run's recent locations, each
// with its icon, and a "Parent folder" button that moves the folder tree one
// level up. Choosing an entry reopens that location.

#include <QComboBox>
#include <QWidget>

#include <string>

#include "ImgButton.h"

// The drop-down list: each entry shows its place's icon and display text.
class CVisitedFoldersCmb : public QComboBox {
    Q_OBJECT
public:
    explicit CVisitedFoldersCmb(QWidget* parent = nullptr);
    static constexpr int kItemHeight = 16;
    // The text shown for a location: a folder's path, "Library: <name>" for
    // a library ("" without a ';' after its name), "" for anything else.
    static QString GetDisplayText(const std::string& location);
    // The icon of a location: its folder's, or the library's; null when none.
    static QIcon LocationIcon(const std::string& location);
    // The location text of an entry.
    std::string LocationAt(int index) const;
};

// The "Parent folder" button; without skin pictures it draws the style's
// parent-folder icon.
class CParentFolderButton : public CImgButton {
    Q_OBJECT
public:
    explicit CParentFolderButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class CVisitedFolders : public QWidget {
    Q_OBJECT
public:
    explicit CVisitedFolders(QWidget* parent = nullptr);
    ~CVisitedFolders() override;

    static constexpr int kComboId = 1001;
    static constexpr int kButtonId = 1002;

    // Lists the recent locations, most recent first, and selects the one
    // equal to current ignoring case (none when no entry matches). Does
    // nothing until the strip is ready, or while a chosen entry opens.
    void Fill(const std::string& current);
    CVisitedFoldersCmb* Combo() const { return m_combo; }
    CImgButton* ParentButton() const { return m_button; }
    bool IsReady() const { return m_bReady; }
    QColor Background() const { return m_background; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnSelChange(int index);

    QColor m_background;
    CVisitedFoldersCmb* m_combo;
    CParentFolderButton* m_button;
    bool m_bReady = false;
    std::string m_shown;  // the location last given to Fill
};

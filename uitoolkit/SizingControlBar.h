#pragma once
// Resizable docking bars: a dock widget that keeps a size for each state
// (docked horizontally, docked vertically, floating) with minimums, saves
// them to the profile in "<name>-SCBar-<id>" sections, and draws its own
// caption band with the skin's close button.

#include <QDockWidget>
#include <QImage>
#include <QSize>
#include <functional>

#include "SizingRowModel.h"

class QLabel;

class CSizingControlBar : public QDockWidget {
    Q_OBJECT
public:
    CSizingControlBar(const QString& title, int id, QWidget* parent = nullptr);

    int BarId() const { return id_; }
    SizingBarSizes& Sizes() { return sizes_; }
    const SizingBarSizes& Sizes() const { return sizes_; }
    void SetMinSizes(QSize horz, QSize vert, QSize floating);
    // A floating bar whose frame may be resized.
    virtual bool IsFloatResizable() const { return true; }

    // Profile access for the saved sizes (section "<name>-SCBar-<id>").
    using IntReader = std::function<int(const std::string& section, const char* key, int def)>;
    using IntWriter = std::function<void(const std::string& section, const char* key, int value)>;
    void LoadState(const std::string& profileName, const IntReader& read);
    void SaveState(const std::string& profileName, const IntWriter& write) const;

    void ShowCloseButton(bool show);
    // Bars made without a gripper show no caption band at all.
    void ShowCaption(bool show);
    bool HasCloseButton() const { return closeVisible_; }
    // Called after the close button hid the bar.
    std::function<void()> OnClosed;

    // The size the bar wants on the side it is docked now.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

    int id_;
    SizingBarSizes sizes_;
    bool closeVisible_ = true;
    QWidget* titleBar_ = nullptr;
    QWidget* noTitle_ = nullptr;
};

// A bar with a plain grip band.
class CSizingControlBarG : public CSizingControlBar {
    Q_OBJECT
public:
    using CSizingControlBar::CSizingControlBar;
};

// A bar whose caption shows whether the focus is inside it: a gradient in the
// active caption colours while it is, the inactive ones otherwise.
class CSizingControlBarCF : public CSizingControlBarG {
    Q_OBJECT
public:
    CSizingControlBarCF(const QString& title, int id, QWidget* parent = nullptr);
    bool IsActive() const { return active_; }
    // One of 64 gradient steps between two colours.
    static QColor GradientStep(QColor first, QColor second, int k);

private:
    void OnFocusChanged(QWidget* old, QWidget* now);
    bool active_ = false;
};

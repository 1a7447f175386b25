#pragma once
// A push button drawn from four skin pictures (normal, pushed, disabled,
// hover), and the zoom bar's variant.

#include <QAbstractButton>
#include <QString>
#include <memory>

#include "InterfaceImageList.h"

class CImgButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CImgButton(QWidget* parent = nullptr);

    // Normal, hot (shown while pushed or checked), disabled, pressed (shown
    // while the cursor is over the button); names relative to the Res folder.
    void SetImageFiles(const QString& normal, const QString& hot, const QString& disabled,
                       const QString& pressed);
    virtual void SetDown(bool down);
    virtual QString GetNormalImageFile() const { return normal_; }
    virtual QString GetDisabledImageFile() const { return disabled_; }
    virtual QString GetHotImageFile() const { return hot_; }
    virtual QString GetPressedImageFile() const { return pressed_; }

    // 0 and 1 draw (Qt composes over the parent either way); others draw nothing.
    int DrawMode = 1;
    int m_nReserved = 1;
    // 0 centred, 1 left, 2 right.
    int Alignment = 0;

    // The cell a paint shows now: 2 disabled, 1 pushed or checked, 3 hover,
    // else 0; -1 without pictures.
    int CurrentCell() const;
    // Where the cell goes in a rectangle of that size.
    QPoint CellOrigin(QSize area) const;
    bool IsHover() const { return hover_; }
    const MainInterface::CInterfaceImageList* Strip() const { return strip_.get(); }
    // Builds the strip once, from the Res folder; later name changes keep it.
    void EnsureImages();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

    QString normal_, disabled_, hot_, pressed_;

private:
    std::unique_ptr<MainInterface::CInterfaceImageList> strip_;
    QSize cell_;
    bool hover_ = false;
};

// The zoom bar's "+" and "-" buttons: their pictures follow their text.
class CZoomButton : public CImgButton {
    Q_OBJECT
public:
    explicit CZoomButton(const QString& text, QWidget* parent = nullptr);
};

#pragma once
// The zoom bar: "-" and "+" image buttons around a slider drawn as an
// anti-aliased wedge. It zooms the thumbnails in task 1 and the picture in
// the other tasks, through the handler its owner sets.

#include <QColor>
#include <QImage>
#include <QSlider>
#include <QWidget>
#include <functional>

class CZoomButton;

class CMySliderCtrl : public QSlider {
    Q_OBJECT
public:
    explicit CMySliderCtrl(QWidget* parent = nullptr);
    void SetBackColor(QColor colour);
    void SetThumbImage(const QImage& thumb);

    // The wedge track on a w x h client, drawn 8 times larger and averaged
    // down for smooth edges. Null for an empty size.
    static QImage BuildTrackImage(int w, int h, QRect channel, QColor background);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor back_{255, 0, 0};
    QImage thumb_;
};

class CZoomCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CZoomCtrl(QWidget* parent = nullptr);
    ~CZoomCtrl() override;

    void SetRange(int minimum, int maximum);
    void SetPos(int position);
    void SetStep(int step);
    void SetSliderBackColor(QColor colour);
    int GetPos() const;
    int GetStep() const { return step_; }
    int GetMin() const;
    int GetMax() const;

    // Position after one step; unchanged at the ends.
    static int StepUp(int pos, int step, int maximum);
    static int StepDown(int pos, int step, int minimum);

    // Receives (value, scroll code) whenever the user zooms.
    std::function<void(int, int)> OnZoom;

    CMySliderCtrl* Slider() const { return slider_; }
    CZoomButton* ZoomInButton() const { return in_; }
    CZoomButton* ZoomOutButton() const { return out_; }

    static constexpr int kWidth = 190;

private:
    void Notify(int code);

    CZoomButton* out_;
    CZoomButton* in_;
    CMySliderCtrl* slider_;
    int step_ = 10;
};

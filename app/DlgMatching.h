#pragma once
// "Tune Matching": the user matches two photos by hand. Both photos are shown
// side by side with three numbered markers each; a third pane shows the pair
// stitched by the transform the markers give, rendered on a worker thread so
// that dragging stays fluid. The markers and the transform live in the
// engine's matcher; the dialog shows them, forwards marker moves and renders.

#include <QDialog>
#include <QEvent>

#include "MarkerSkin.h"
#include "MatchPreviewWorker.h"
#include "PanoramaLib.h"

class CPictPreview;
class QLabel;
class QPushButton;
class QRadioButton;

class CDlgMatching : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 256;
    // Dialog results.
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;
    // Posted by the worker when a preview is ready.
    static constexpr QEvent::Type kPreviewReadyEvent = QEvent::Type(QEvent::User + 0x514);

    // Markers from the application's skin.
    explicit CDlgMatching(QWidget* parent = nullptr);
    // Markers as given; render replaces the engine's preview renderer (tests).
    CDlgMatching(QWidget* parent, const MarkerSkin& markers, MatchPreviewWorker::RenderFn render = {});
    ~CDlgMatching() override;

    // The pair to match; both are kept with a reference.
    void SetElements(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second);
    // Not owned; set before DoModal.
    void SetMatcher(PanoramaLib::IManualMatcher* matcher) { m_matcher = matcher; }
    // kIdOk when the user applied the markers (the matcher holds them), else kIdCancel.
    int DoModal() { return exec(); }

    // The marker bitmaps and hot points the skin names.
    static MarkerSkin SkinMarkers();
    // What the document runs when the engine asks for manual matching of one
    // pair: the modal dialog on the two photos and the matcher. kIdOk when the
    // user applied; kIdCancel when the user aborted or a photo or the matcher
    // is missing.
    static int MatchPair(QWidget* parent, PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                         PanoramaLib::IManualMatcher* matcher, const MarkerSkin& markers = SkinMarkers());
    // Panes 0 and 1 show the photos, pane 2 the preview.
    CPictPreview* Pane(int index) const { return m_panes[index]; }
    // The preview the result pane shows (null while none).
    PanoramaLib::IPanoElement* ShownResult() const { return m_shown.Get(); }

    void Reset();
    void RequestPreview();
    void ShowPreviewResult();
    void StopWorker();
    void SetMotionModelRadios(int model);
    void UpdateZoomButtons();
    void UpdateImageScaleText();
    void UpdatePreviewScaleText();
    void OnOK();
    void OnCancel();
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

protected:
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Build();
    void OnPaneFocus(bool gained, CPictPreview* pane);
    void OnPaneZoomed(bool up, CPictPreview* pane);
    void OnMarkerMoved();
    void OnMotionModel(int model);
    void OnZoomPhotos(bool up);
    void OnZoomPreview(bool up);
    // Both photo panes at the zoom that shows the markers of either.
    void ZoomToMarkers();
    QRect FocusFrame() const;

    CPictPreview* m_panes[3] = {};
    CPictPreview* m_focused = nullptr;
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> m_element1;
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> m_element2;
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> m_display1;
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> m_display2;
    OrvexBase::RefPtr<PanoramaLib::IPanoElement> m_shown;
    PanoramaLib::IManualMatcher* m_matcher = nullptr;
    QString m_noMatchText;
    QPushButton* m_apply = nullptr;
    QPushButton* m_abort = nullptr;
    QPushButton* m_reset = nullptr;
    QPushButton* m_photosIn = nullptr;
    QPushButton* m_photosOut = nullptr;
    QPushButton* m_previewIn = nullptr;
    QPushButton* m_previewOut = nullptr;
    QRadioButton* m_scaleOnly = nullptr;
    QRadioButton* m_rotateScale = nullptr;
    QRadioButton* m_affine = nullptr;
    QLabel* m_imageScale = nullptr;
    QLabel* m_previewScale = nullptr;
    bool m_initialised = false;
    // Last: stopped and destroyed before the elements it renders are released.
    MatchPreviewWorker m_worker;
};

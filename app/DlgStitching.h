#pragma once
// The "2. Stitch" page: the "Start Stitching" button above two tabs, one per
// engine, each with its option page. The chosen tab decides which engine the
// next stitch uses; the button is enabled while the options need a new stitch.

#include <QPointer>
#include <QRect>
#include <QTimer>
#include <functional>

#include "BaseDialog.h"
#include "DialogCallback.h"
#include "Workflow.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSlider;
class QTabWidget;

// The horizontal/vertical engine's options: lens, motion model, matching
// mode and the 360-degree ring.
class CDlgHVStitching : public CBaseDialog {
    Q_OBJECT
public:
    explicit CDlgHVStitching(QWidget* parent = nullptr);
    ~CDlgHVStitching() override;

    void SetDocument(IDialogCallback::IStitchingOptions* document) { m_document = document; }
    void SetNotify(IDialogCallback::IStitchingNotify* notify) { m_notify = notify; }
    // Where the "match all photos by hand" choice goes besides the profile.
    std::function<void(int)> onManualMatchingPreference;

    void UpdateControls() override;
    int GetTooltipStringId(int controlId) const override;
    // Copies the page's four fields into the engine's options and stitches.
    void Start();
    const HVPanoramaOptions& Options() const { return m_options; }
    static int MatchAllManually() { return s_matchAllManually; }

private:
    void Report();
    void SetMotionRadios(int model);
    void Set360(bool on);
    void OnMotion(int model);
    void OnMatching(int mode, int matchAll);
    QList<QWidget*> OptionControls() const;

    IDialogCallback::IStitchingOptions* m_document = nullptr;
    IDialogCallback::IStitchingNotify* m_notify = nullptr;
    HVPanoramaOptions m_options;
    HVPanoramaOptions m_saved;
    static int s_matchAllManually;

    QRadioButton* m_scale;
    QRadioButton* m_rotate;
    QRadioButton* m_skew;
    QCheckBox* m_lens;
    QComboBox* m_focal;
    QRadioButton* m_auto;
    QRadioButton* m_prompt;
    QRadioButton* m_manual;
    QCheckBox* m_360;
};

// The tiled engine's lens options and, once a tiled result exists, its
// surface and viewing angles, re-rendered at every change.
class CDlgTLStitching : public CBaseDialog {
    Q_OBJECT
public:
    explicit CDlgTLStitching(QWidget* parent = nullptr);
    ~CDlgTLStitching() override;

    void SetDocument(IDialogCallback::IStitchingOptions* document) { m_document = document; }
    void SetNotify(IDialogCallback::IStitchingNotify* notify) { m_notify = notify; }

    void UpdateControls() override;
    int GetTooltipStringId(int controlId) const override;
    // The surface and angle controls are usable exactly while a tiled result exists.
    void EnableGeometry(bool enable);
    void Start();
    const HVPanoramaOptions& Options() const { return m_options; }
    int Elevation() const { return m_angles[0]; }
    int Azimuth() const { return m_angles[1]; }
    int Tilt() const { return m_angles[2]; }

private:
    void Report();
    void RequestRender(int keepCropRect);
    void WriteSlidersToEdits();
    void OnLens();
    void OnSurface(int surface);
    void OnEditChanged(int angle);
    void OnSliderValue(int angle);
    void OnSliderEnd();

    IDialogCallback::IStitchingOptions* m_document = nullptr;
    IDialogCallback::IStitchingNotify* m_notify = nullptr;
    HVPanoramaOptions m_options;
    bool m_initialised = false;
    bool m_updating = false;
    int m_angles[3] = {0, 0, 0};

    QCheckBox* m_lens;
    QCheckBox* m_highOrder;
    QRadioButton* m_cylinder;
    QRadioButton* m_sphere;
    QSlider* m_sliders[3];
    QLineEdit* m_edits[3];
    QScrollBar* m_spins[3];
};

class CDlgStitching : public CBaseDialog, public IDialogCallback::IStitchingNotify {
    Q_OBJECT
public:
    explicit CDlgStitching(QWidget* parent = nullptr);
    ~CDlgStitching() override;

    static constexpr int kTemplateId = 152;
    static constexpr int kPollMs = 100;

    void SetDocument(IDialogCallback::IStitchingOptions* document);
    // The workflow that holds the chosen model (borrowed; null: the page's
    // own). The page's model goes with it, and the tabs follow its changes.
    void SetWorkflow(CWorkflow* workflow);
    void EnableStitchButton(bool enable) override;
    // The "&Stitch" command and the export task's stitch: what "Start Stitching"
    // does, with the model and the options the page shows.
    void StartFromCommand();
    int IsStitchEnabled();
    void UpdateControls() override;
    int GetTooltipStringId(int controlId) const override;

    QString Title() const;
    // The chosen model, and its number as the profile's "HorzVert" keeps it.
    StitchMode StitchingMode() const { return Workflow().GetStitchMode(); }
    int Mode() const { return StitchModeProfileValue(StitchingMode()); }
    QPushButton* StartButton() const { return m_start; }
    QTabWidget* Tabs() const { return m_tabs; }
    CDlgHVStitching* HVPage() const { return m_hv; }
    CDlgTLStitching* TLPage() const { return m_tl; }
    // One run of the 100 ms poll.
    void Poll();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ApplyTabSelection();
    void OnStart();
    const HVPanoramaOptions& ActiveOptions() const;

    IDialogCallback::IStitchingOptions* m_document = nullptr;
    CWorkflow& Workflow() const { return m_workflow ? *m_workflow : m_ownWorkflow; }
    void ShowMode();
    // Holds the model until the frame's workflow takes it over.
    mutable CWorkflow m_ownWorkflow;
    QPointer<CWorkflow> m_workflow;
    QSize m_initialSize;
    int m_lastWidth = 0;
    QPushButton* m_start;
    QTabWidget* m_tabs;
    CDlgHVStitching* m_hv;
    CDlgTLStitching* m_tl;
    QTimer m_poll;
};

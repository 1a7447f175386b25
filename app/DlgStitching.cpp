#include "DlgStitching.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>

#include "AppSettings.h"
#include "DialogText.h"
#include "StitchingOptionFields.h"
#include "StringTable.h"
#include "TabstopNavigator.h"

namespace {

using DialogText::Str;

// Dialog units to pixels, in the dialog font's scale. Our font runs wider
// than the one the page's layout was drawn for: the horizontal units grow
// until the longest check box text fits its place.
QRect Du(int x, int y, int w, int h) {
    static const CCheckDlg check;
    static const double scaleX = [] {
        const QCheckBox probe(QStringLiteral("Compensate lens distortion"));
        const int room = check.MapDialogRect(QRect(0, 0, 103, 10)).width();
        return room > 0 ? std::clamp(double(probe.sizeHint().width()) / room, 1.0, 1.6) : 1.0;
    }();
    const QRect r = check.MapDialogRect(QRect(x, y, w, h));
    return QRect(int(r.x() * scaleX), r.y(), int(r.width() * scaleX), r.height());
}

template <class W>
W* Place(W* widget, int id, int x, int y, int w, int h) {
    if (id > 0)
        widget->setObjectName(QString::number(id));
    widget->setGeometry(Du(x, y, w, h));
    return widget;
}

QGroupBox* Group(QWidget* parent, int id, const QString& text, int x, int y, int w, int h) {
    auto* box = Place(new QGroupBox(text, parent), id, x, y, w, h);
    box->lower();
    return box;
}

QLabel* Static(QWidget* parent, const QString& text, int x, int y, int w, int h) {
    auto* label = Place(new QLabel(text, parent), 0, x, y, w, h);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

void SetChecked(QAbstractButton* button, bool on) {
    if (button->isChecked() != on)
        button->setChecked(on);
}

constexpr int kDefaultLensPreset = ProfileKeys::kLensType.defaultValue;

}  // namespace

// ---- horizontal/vertical options ----

int CDlgHVStitching::s_matchAllManually = 0;

CDlgHVStitching::CDlgHVStitching(QWidget* parent) : CBaseDialog(303, parent) {
    m_options = ReadPageOptions(kPlanarPageFields);
    s_matchAllManually = ProfileKeys::Read(ProfileKeys::kManualMatching);
    m_saved = m_options;

    setWindowFlags(Qt::Widget);
    resize(Du(0, 0, 126, 180).size());
    Group(this, 1073, QStringLiteral("Lens compensation"), 5, 3, 116, 46);
    m_lens = Place(new QCheckBox(QStringLiteral("&Compensate lens distortion"), this), 1009, 12, 17, 103, 10);
    QLabel* focalLabel = Static(this, QStringLiteral("&Focal length:"), 12, 33, 48, 8);
    m_focal = Place(new QComboBox(this), 1010, 60, 31, 52, 12);
    focalLabel->setBuddy(m_focal);
    Group(this, 1072, QStringLiteral("Matching"), 5, 50, 116, 55);
    m_scale = Place(new QRadioButton(QStringLiteral("&Scale only"), this), 1006, 10, 61, 100, 10);
    m_rotate = Place(new QRadioButton(QStringLiteral("&Rotate and scale only"), this), 1007, 10, 75, 100, 10);
    m_skew = Place(new QRadioButton(QStringLiteral("R&otate, scale, and skew"), this), 1008, 10, 89, 100, 10);
    Group(this, 0, QStringLiteral("Mode"), 5, 107, 116, 55);
    m_auto = Place(new QRadioButton(QStringLiteral("&Automatically matching"), this), 1011, 11, 119, 100, 10);
    m_prompt = Place(new QRadioButton(QStringLiteral("&Prompt for unmatched"), this), 1012, 11, 133, 100, 10);
    m_manual =
        Place(new QRadioButton(QStringLiteral("&Manually match all photos"), this), 1013, 11, 147, 105, 10);
    m_360 = Place(new QCheckBox(QStringLiteral("&360°"), this), 1031, 5, 167, 40, 10);
    // Two radio groups: the motion model and the matching mode.
    auto* motion = new QButtonGroup(this);
    for (QRadioButton* b : {m_scale, m_rotate, m_skew})
        motion->addButton(b);
    auto* matching = new QButtonGroup(this);
    for (QRadioButton* b : {m_auto, m_prompt, m_manual})
        matching->addButton(b);

    m_lens->setChecked(m_options.lensCompensation);
    for (int id = 0; id < 10; ++id)
        m_focal->addItem(Str(208 + id));

    connect(m_scale, &QRadioButton::clicked, this, [this] { OnMotion(2); });
    connect(m_rotate, &QRadioButton::clicked, this, [this] { OnMotion(1); });
    connect(m_skew, &QRadioButton::clicked, this, [this] { OnMotion(0); });
    connect(m_lens, &QCheckBox::clicked, this, [this] {
        m_options.lensCompensation = m_lens->isChecked();
        Report();
    });
    connect(m_focal, &QComboBox::activated, this, [this] {
        m_options.lensPresetId = m_focal->currentIndex();
        Report();
    });
    connect(m_auto, &QRadioButton::clicked, this, [this] { OnMatching(0, 0); });
    connect(m_prompt, &QRadioButton::clicked, this, [this] { OnMatching(1, 0); });
    connect(m_manual, &QRadioButton::clicked, this, [this] { OnMatching(1, 1); });
    connect(m_360, &QCheckBox::clicked, this, [this] {
        Set360(m_360->isChecked());
        Report();
    });
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::TaskPage, true);
    UpdateControls();
}

CDlgHVStitching::~CDlgHVStitching() {
    CTabstopNavigator::RemoveWindow(this);
    // While 360 degrees forces scale only, the user's own model is kept.
    HVPanoramaOptions kept = m_options;
    if (kept.is360)
        kept.motionModel = m_saved.motionModel;
    WritePageOptions(kPlanarPageFields, kept);
    ProfileKeys::Write(ProfileKeys::kManualMatching, s_matchAllManually);
}

QList<QWidget*> CDlgHVStitching::OptionControls() const {
    return {m_scale, m_rotate, m_skew, m_lens, m_focal, m_auto, m_prompt, m_manual, m_360};
}

int CDlgHVStitching::GetTooltipStringId(int controlId) const {
    switch (controlId) {
        case 1006:
            return 260;
        case 1007:
            return 261;
        case 1008:
            return 262;
        case 1009:
            return 263;
        case 1010:
            return 264;
        case 1030:
            return 265;
        case 1031:
            return 266;
        case 1080:
            return 306;
        default:
            return 0;
    }
}

void CDlgHVStitching::Report() {
    if (m_notify && m_document)
        m_notify->EnableStitchButton(m_document->IsRestitchNeeded(&m_options));
}

void CDlgHVStitching::SetMotionRadios(int model) {
    if (model < 0 || model > 2)
        return;
    SetChecked(m_skew, model == 0);
    SetChecked(m_rotate, model == 1);
    SetChecked(m_scale, model == 2);
}

void CDlgHVStitching::OnMotion(int model) {
    m_options.motionModel = model;
    if (!m_options.is360)
        m_saved.motionModel = model;
    Report();
}

void CDlgHVStitching::OnMatching(int mode, int matchAll) {
    if (m_document) {
        m_document->SetMatchingMode(mode);
        Report();
    }
    s_matchAllManually = matchAll;
    if (onManualMatchingPreference)
        onManualMatchingPreference(matchAll);
}

void CDlgHVStitching::Set360(bool on) {
    if (on && !m_options.is360)
        m_saved = m_options;
    m_options.is360 = on;
    m_options.motionModel = on ? 2 : m_saved.motionModel;
    const bool can = m_document && m_document->CanStitch();
    for (QRadioButton* b : {m_scale, m_rotate, m_skew})
        b->setEnabled(!on && can);
    SetMotionRadios(m_options.motionModel);
}

void CDlgHVStitching::UpdateControls() {
    if (!m_document) {
        for (QWidget* w : OptionControls())
            w->setEnabled(false);
        return;
    }
    SetMotionRadios(m_options.motionModel);
    const bool can = m_document->CanStitch();
    for (QWidget* w : OptionControls())
        w->setEnabled(can);
    // An index the list does not have leaves the box without a selection.
    m_focal->setCurrentIndex(m_options.lensPresetId >= 0 && m_options.lensPresetId < m_focal->count()
                                 ? m_options.lensPresetId
                                 : -1);
    if (m_document->GetMatchingMode() == 0)
        m_auto->setChecked(true);
    else if (s_matchAllManually != 0)
        m_manual->setChecked(true);
    else
        m_prompt->setChecked(true);
    m_360->setChecked(m_options.is360);
    Set360(m_options.is360);
    Report();
}

void CDlgHVStitching::Start() {
    if (!m_document)
        return;
    HVPanoramaOptions options;
    m_document->GetOptions(&options);
    CopyPageOptions(kPlanarPageFields, m_options, options);
    // A stored index the preset table does not have must not reach the
    // engine: it stitches with the default lens, the profile keeps the index.
    if (options.lensPresetId < 0 || options.lensPresetId >= m_focal->count())
        options.lensPresetId = kDefaultLensPreset;
    m_document->SetOptions(&options);
    m_document->StartStitching();
}

// ---- tiled options ----

CDlgTLStitching::CDlgTLStitching(QWidget* parent) : CBaseDialog(304, parent) {
    m_options = ReadPageOptions(kTiledPageFields);

    setWindowFlags(Qt::Widget);
    resize(Du(0, 0, 126, 213).size());
    Group(this, 1073, QStringLiteral("Lens compensation"), 5, 3, 116, 46);
    m_lens = Place(new QCheckBox(QStringLiteral("&Compensate lens distortion"), this), 1009, 12, 17, 103, 10);
    m_highOrder = Place(new QCheckBox(QStringLiteral("High order aberration"), this), 1065, 12, 33, 98, 9);
    Group(this, 1075, QStringLiteral("Geometrical compensation"), 6, 50, 116, 133);
    m_cylinder = Place(new QRadioButton(QStringLiteral("Cylindrical"), this), 1068, 12, 61, 60, 10);
    m_sphere = Place(new QRadioButton(QStringLiteral("Spherical"), this), 1069, 12, 75, 60, 10);
    auto* surfaces = new QButtonGroup(this);
    surfaces->addButton(m_cylinder);
    surfaces->addButton(m_sphere);
    static const struct {
        const char* label;
        int y, slider, edit, spin;
    } kAngles[3] = {{"Elevation (-45..45)", 95, 1060, 1070, 1078},
                    {"Azimuth (-45..45)", 124, 1062, 1071, 1079},
                    {"Tilt (-45..45)", 153, 1063, 1072, 1080}};
    for (int i = 0; i < 3; ++i) {
        const auto& a = kAngles[i];
        Static(this, QString::fromUtf8(a.label), 12, a.y, 70, 8);
        m_edits[i] = Place(new QLineEdit(this), a.edit, 84, a.y - 1, 27, 12);
        // The spin button: up raises the angle by one, like its buddy's arrow keys.
        m_spins[i] = Place(new QScrollBar(Qt::Vertical, this), a.spin, 111, a.y - 1, 8, 12);
        m_spins[i]->setInvertedAppearance(true);
        m_spins[i]->setInvertedControls(true);
        m_sliders[i] = Place(new QSlider(Qt::Horizontal, this), a.slider, 10, a.y + 14, 108, 11);
        m_sliders[i]->setTickPosition(QSlider::NoTicks);
        connect(m_edits[i], &QLineEdit::textChanged, this, [this, i] { OnEditChanged(i); });
        connect(m_spins[i], &QScrollBar::valueChanged, this, [this, i](int v) {
            if (!m_updating)
                m_edits[i]->setText(QString::number(v));
        });
        connect(m_sliders[i], &QSlider::valueChanged, this, [this, i] {
            OnSliderValue(i);
            // A keyboard or page step ends at once; a drag ends on release.
            if (!m_sliders[i]->isSliderDown())
                OnSliderEnd();
        });
        connect(m_sliders[i], &QSlider::sliderReleased, this, [this] { OnSliderEnd(); });
    }
    Static(this, QStringLiteral("NOTE: For 360° panoramas please use Horizontal/Vertical mode"), 7, 186, 114,
           23);

    connect(m_lens, &QCheckBox::clicked, this, [this] { OnLens(); });
    connect(m_highOrder, &QCheckBox::clicked, this, [this] {
        if (!m_initialised)
            return;
        m_options.lensModel = m_highOrder->isChecked() ? 1 : 0;
        Report();
    });
    connect(m_cylinder, &QRadioButton::clicked, this, [this] { OnSurface(0); });
    connect(m_sphere, &QRadioButton::clicked, this, [this] { OnSurface(1); });
    EnableGeometry(false);
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::TaskPage, true);
    UpdateControls();
    m_highOrder->setEnabled(m_lens->isChecked() && m_lens->isEnabled());
}

CDlgTLStitching::~CDlgTLStitching() {
    CTabstopNavigator::RemoveWindow(this);
    WritePageOptions(kTiledPageFields, m_options);
}

int CDlgTLStitching::GetTooltipStringId(int controlId) const {
    switch (controlId) {
        case 1009:
            return 263;
        case 1065:
            return 307;
        case 1068:
            return 308;
        case 1069:
            return 309;
        case 1060:
        case 1070:
            return 310;
        case 1062:
        case 1071:
            return 311;
        case 1063:
        case 1072:
            return 312;
        default:
            return 0;
    }
}

void CDlgTLStitching::EnableGeometry(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(m_cylinder), static_cast<QWidget*>(m_sphere)})
        w->setEnabled(enable);
    for (int i = 0; i < 3; ++i) {
        m_sliders[i]->setEnabled(enable);
        m_edits[i]->setEnabled(enable);
        m_spins[i]->setEnabled(enable);
    }
}

void CDlgTLStitching::Report() {
    if (m_notify && m_document)
        m_notify->EnableStitchButton(m_document->IsRestitchNeeded(&m_options));
}

void CDlgTLStitching::RequestRender(int keepCropRect) {
    // The document keeps the azimuth with the opposite sign.
    m_document->RequestTiledRender(m_options.surfaceKind, m_angles[0], -m_angles[1], m_angles[2], true,
                                   keepCropRect);
}

void CDlgTLStitching::OnLens() {
    if (!m_initialised)
        return;
    m_options.lensCompensation = m_lens->isChecked();
    m_highOrder->setEnabled(m_options.lensCompensation && m_lens->isEnabled());
    Report();
}

void CDlgTLStitching::OnSurface(int surface) {
    if (!m_initialised)
        return;
    m_options.surfaceKind = surface;
    if (m_document) {
        Report();
        RequestRender(0);
    }
}

void CDlgTLStitching::WriteSlidersToEdits() {
    const bool was = m_updating;
    m_updating = true;
    for (int i = 0; i < 3; ++i) {
        const QString text = QString::number(m_sliders[i]->value());
        if (m_edits[i]->text() != text)
            m_edits[i]->setText(text);
        const QSignalBlocker block(m_spins[i]);
        m_spins[i]->setValue(m_sliders[i]->value());
    }
    m_updating = was;
}

void CDlgTLStitching::OnEditChanged(int angle) {
    if (m_updating)
        return;
    bool ok = false;
    const int value = m_edits[angle]->text().toInt(&ok);
    if (!ok || value < -45 || value > 45 || value == m_angles[angle])
        return;
    m_angles[angle] = value;
    {
        const QSignalBlocker block(m_sliders[angle]);
        m_sliders[angle]->setValue(value);
    }
    {
        const QSignalBlocker block(m_spins[angle]);
        m_spins[angle]->setValue(value);
    }
    if (m_document) {
        RequestRender(1);
        m_document->ResetTiledCropRect();
        m_document->MarkOptionsChanged();
    }
}

void CDlgTLStitching::OnSliderValue(int angle) {
    if (!m_initialised || m_updating)
        return;
    const int position = m_sliders[angle]->value();
    m_updating = true;
    WriteSlidersToEdits();
    if (position != m_angles[angle]) {
        m_angles[angle] = position;
        if (m_document)
            RequestRender(1);
    }
    m_updating = false;
}

void CDlgTLStitching::OnSliderEnd() {
    if (!m_initialised || m_updating)
        return;
    m_updating = true;
    if (m_document) {
        m_document->ResetTiledCropRect();
        m_document->MarkOptionsChanged();
    }
    m_updating = false;
}

void CDlgTLStitching::UpdateControls() {
    if (!m_document) {
        m_lens->setEnabled(false);
        m_highOrder->setEnabled(false);
        if (m_initialised)
            return;
    }
    m_updating = true;
    const auto enableLens = [this] {
        const bool can = m_document && m_document->CanStitch();
        m_lens->setEnabled(can);
        m_highOrder->setEnabled(can && m_lens->isChecked());
    };
    if (m_document)
        enableLens();
    SetChecked(m_lens, m_options.lensCompensation);
    SetChecked(m_highOrder, m_options.lensModel == 1);
    SetChecked(m_cylinder, m_options.surfaceKind == 0);
    SetChecked(m_sphere, m_options.surfaceKind == 1);
    if (m_document)
        enableLens();
    if (!m_initialised) {
        for (int i = 0; i < 3; ++i) {
            const QSignalBlocker block(m_sliders[i]);
            m_sliders[i]->setRange(-45, 45);
            m_spins[i]->setRange(-45, 45);
            m_spins[i]->setSingleStep(1);
        }
    } else {
        int surface = 0;
        m_document->GetTiledRenderParams(&surface, &m_angles[0], &m_angles[1], &m_angles[2]);
        m_angles[1] = -m_angles[1];
    }
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker block(m_sliders[i]);
        m_sliders[i]->setValue(m_angles[i]);
    }
    WriteSlidersToEdits();
    m_initialised = m_document != nullptr;
    Report();
    m_updating = false;
}

void CDlgTLStitching::Start() {
    if (!m_initialised || !m_document)
        return;
    HVPanoramaOptions options;
    m_document->GetOptions(&options);
    CopyPageOptions(kTiledPageFields, m_options, options);
    options.rawExposureDifference = 0;
    m_document->SetOptions(&options);
    m_document->StartStitching();
}

// ---- the stitching page ----

CDlgStitching::CDlgStitching(QWidget* parent) : CBaseDialog(kTemplateId, parent) {
    m_ownWorkflow.SetStitchMode(StitchModeFromProfile(ProfileKeys::Read(ProfileKeys::kHorzVert)));
    setWindowFlags(Qt::Widget);
    m_initialSize = Du(0, 0, 146, 250).size();
    resize(m_initialSize);
    m_lastWidth = m_initialSize.width();

    m_start = Place(new QPushButton(QStringLiteral("Start Stitching"), this), 1012, 3, 4, 112, 14);
    m_start->setEnabled(false);
    m_tabs = Place(new QTabWidget(this), 1071, 3, 24, 141, 224);
    m_tabs->setUsesScrollButtons(false);
    m_tabs->tabBar()->setExpanding(true);
    m_hv = new CDlgHVStitching;
    m_tl = new CDlgTLStitching;
    m_hv->SetNotify(this);
    m_tl->SetNotify(this);
    m_tabs->addTab(m_hv, Str(303));
    m_tabs->addTab(m_tl, Str(304));
    ShowMode();
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { ApplyTabSelection(); });
    connect(m_start, &QPushButton::clicked, this, [this] { OnStart(); });
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::TaskPage, true);
    UpdateControls();
    ApplyTabSelection();

    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &CDlgStitching::Poll);
    m_poll.start();
}

CDlgStitching::~CDlgStitching() {
    m_poll.stop();
    CTabstopNavigator::RemoveWindow(this);
    ProfileKeys::Write(ProfileKeys::kHorzVert, Mode());
}

QString CDlgStitching::Title() const {
    return Str(201);
}

void CDlgStitching::SetDocument(IDialogCallback::IStitchingOptions* document) {
    m_document = document;
    m_hv->SetDocument(document);
    m_tl->SetDocument(document);
    if (m_document) {
        m_document->SetTiledMode(StitchingMode() == StitchMode::Tiled);
        m_document->SetTiledOptions(StitchingMode() == StitchMode::Tiled);
    }
}

void CDlgStitching::SetWorkflow(CWorkflow* workflow) {
    const StitchMode mode = StitchingMode();
    disconnect(&Workflow(), &CWorkflow::stitchModeChanged, this, nullptr);
    m_workflow = workflow;
    Workflow().SetStitchMode(mode);
    // Queued: a change made inside the document's step reaches the tabs
    // after it; the tabs show the model as it is then, so changes that
    // queued up do not undo each other.
    connect(
        &Workflow(), &CWorkflow::stitchModeChanged, this, [this] { ShowMode(); }, Qt::QueuedConnection);
}

void CDlgStitching::ShowMode() {
    m_tabs->setCurrentIndex(StitchingMode() == StitchMode::Tiled ? 1 : 0);
}

void CDlgStitching::EnableStitchButton(bool enable) {
    m_start->setEnabled(enable);
}

void CDlgStitching::StartFromCommand() {
    // The menu's Stitch is the button's: the model and options the page shows.
    OnStart();
}

const HVPanoramaOptions& CDlgStitching::ActiveOptions() const {
    return StitchingMode() == StitchMode::Planar ? m_hv->Options() : m_tl->Options();
}

int CDlgStitching::IsStitchEnabled() {
    return m_document && m_document->IsRestitchNeeded(&ActiveOptions()) ? 1 : 0;
}

void CDlgStitching::UpdateControls() {
    if (m_document)
        m_tabs->setEnabled(m_document->CanStitch());
    m_hv->UpdateControls();
    m_tl->UpdateControls();
}

int CDlgStitching::GetTooltipStringId(int controlId) const {
    return controlId == 1012 ? 267 : 0;
}

void CDlgStitching::ApplyTabSelection() {
    const int index = m_tabs->currentIndex();
    Workflow().SetStitchMode(index == 0 ? StitchMode::Planar : StitchMode::Tiled);
    if (m_document)
        m_document->SetTiledOptions(index != 0);
}

void CDlgStitching::OnStart() {
    if (m_document)
        m_document->SetTiledOptions(StitchingMode() == StitchMode::Tiled);
    if (StitchingMode() == StitchMode::Planar)
        m_hv->Start();
    else
        m_tl->Start();
}

void CDlgStitching::Poll() {
    m_start->setEnabled(IsStitchEnabled() != 0);
    if (m_document)
        m_tl->EnableGeometry(m_document->HasTiledResult());
}

void CDlgStitching::resizeEvent(QResizeEvent* event) {
    CBaseDialog::resizeEvent(event);
    const int cx = width();
    // The button stays centred over the page's first width at most.
    const int w = std::min(cx, m_initialSize.width());
    m_start->move((w - m_start->width()) / 2, m_start->y());
    m_tabs->resize(std::max(0, m_tabs->width() + cx - m_lastWidth), m_tabs->height());
    m_lastWidth = cx;
}

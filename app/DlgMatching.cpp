#include "DlgMatching.h"

#include "SkinAccess.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

#include "PictPreview.h"
#include "StringTable.h"

using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

// Control ids of the dialog.
enum : int {
    IDC_RESET = 1046,
    IDC_PANE1 = 1047,
    IDC_PANE2 = 1048,
    IDC_PANE3 = 1049,
    IDC_PHOTOS_IN = 1050,
    IDC_PHOTOS_OUT = 1051,
    IDC_SCALE_ONLY = 1052,
    IDC_ROTATE_SCALE = 1053,
    IDC_AFFINE = 1054,
    IDC_PREVIEW_IN = 1055,
    IDC_PREVIEW_OUT = 1056,
    IDC_IMAGE_SCALE = 1057,
    IDC_PREVIEW_SCALE = 1058,
};

QString Text(unsigned id) {
    return QString::fromUtf8(Res::LoadStr(id));
}

// "Scale: %i %%" with the zoom rounded; the table's text is filled by hand so
// that no text is ever used as a format.
QString ScaleText(unsigned id, double zoom) {
    QString text = Text(id);
    text.replace(QLatin1String("%i"), QString::number(int(zoom + 0.5)));
    text.replace(QLatin1String("%%"), QLatin1String("%"));
    return text;
}

template <class W>
W* Named(W* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

// The display image of a photo: a masked photo is shown with white outside
// its mask, on a copy; otherwise the photo itself.
RefPtr<IPanoElement> DisplayImage(IPanoElement* element) {
    if (element->GetMask()) {
        if (IPanoElement* copy = element->Clone()) {
            copy->ApplyMask();
            return RefPtr<IPanoElement>(copy);
        }
    }
    element->AddRef();
    return RefPtr<IPanoElement>(element);
}

}  // namespace

CDlgMatching::CDlgMatching(QWidget* parent) : CDlgMatching(parent, SkinMarkers()) {}

CDlgMatching::CDlgMatching(QWidget* parent, const MarkerSkin& markers, MatchPreviewWorker::RenderFn render)
    : QDialog(parent), m_worker(std::move(render)) {
    m_noMatchText = Text(259);
    Build();
    for (int i = 0; i < 2; ++i)
        m_panes[i]->InitMarkers(markers.files[0], markers.files[1], markers.files[2], markers.hotPoints[0],
                                markers.hotPoints[1], markers.hotPoints[2]);
}

CDlgMatching::~CDlgMatching() {
    StopWorker();
    // The panes lose the focus while the base class deletes them; their
    // signals must not reach this half-destroyed dialog.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
}

void CDlgMatching::Build() {
    setWindowTitle(QStringLiteral("Tune Matching"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(960, 700);

    for (int i = 0; i < 3; ++i) {
        m_panes[i] = Named(new CPictPreview(this), IDC_PANE1 + i);
        m_panes[i]->setMinimumSize(160, 120);
        // The panes take the focus (and show the focus frame) when clicked or tabbed to.
        m_panes[i]->setFocusPolicy(Qt::StrongFocus);
        connect(m_panes[i], &CPictPreview::FocusChanged, this, &CDlgMatching::OnPaneFocus);
        connect(m_panes[i], &CPictPreview::ZoomStepped, this, &CDlgMatching::OnPaneZoomed);
        connect(m_panes[i], &CPictPreview::MarkerMoved, this, &CDlgMatching::OnMarkerMoved);
    }
    const auto button = [&](const QString& text, int id) {
        auto* b = Named(new QPushButton(text, this), id);
        b->setAutoDefault(false);
        return b;
    };
    const auto zoomButton = [&](const QString& text, int id) {
        auto* b = button(text, id);
        b->setFixedWidth(b->sizeHint().height() + 4);
        return b;
    };
    m_photosIn = zoomButton(QStringLiteral("+"), IDC_PHOTOS_IN);
    m_photosOut = zoomButton(QStringLiteral("-"), IDC_PHOTOS_OUT);
    m_previewIn = zoomButton(QStringLiteral("+"), IDC_PREVIEW_IN);
    m_previewOut = zoomButton(QStringLiteral("-"), IDC_PREVIEW_OUT);
    m_imageScale = Named(new QLabel(QStringLiteral("Static"), this), IDC_IMAGE_SCALE);
    m_previewScale = Named(new QLabel(QStringLiteral("Static"), this), IDC_PREVIEW_SCALE);
    m_reset = button(QStringLiteral("&Reset"), IDC_RESET);
    m_apply = button(QStringLiteral("&Apply"), kIdOk);
    m_apply->setDefault(true);
    m_abort = button(QStringLiteral("A&bort"), kIdCancel);
    m_scaleOnly = Named(new QRadioButton(QStringLiteral("&Scale only"), this), IDC_SCALE_ONLY);
    m_rotateScale = Named(new QRadioButton(QStringLiteral("&Rotate and scale only"), this), IDC_ROTATE_SCALE);
    m_affine = Named(new QRadioButton(QStringLiteral("R&otate, scale, and skew"), this), IDC_AFFINE);

    connect(m_photosIn, &QPushButton::clicked, this, [this] { OnZoomPhotos(true); });
    connect(m_photosOut, &QPushButton::clicked, this, [this] { OnZoomPhotos(false); });
    connect(m_previewIn, &QPushButton::clicked, this, [this] { OnZoomPreview(true); });
    connect(m_previewOut, &QPushButton::clicked, this, [this] { OnZoomPreview(false); });
    connect(m_reset, &QPushButton::clicked, this, &CDlgMatching::Reset);
    connect(m_apply, &QPushButton::clicked, this, &CDlgMatching::OnOK);
    connect(m_abort, &QPushButton::clicked, this, &CDlgMatching::OnCancel);
    connect(m_affine, &QRadioButton::clicked, this, [this] { OnMotionModel(0); });
    connect(m_scaleOnly, &QRadioButton::clicked, this, [this] { OnMotionModel(2); });
    connect(m_rotateScale, &QRadioButton::clicked, this, [this] { OnMotionModel(1); });

    // The photos side by side above, the preview below with the model and
    // the buttons beside it.
    auto* photoZoom = new QHBoxLayout;
    photoZoom->addWidget(m_photosIn);
    photoZoom->addWidget(m_photosOut);
    photoZoom->addWidget(m_imageScale);
    photoZoom->addStretch();
    auto* previewZoom = new QHBoxLayout;
    previewZoom->addWidget(m_previewIn);
    previewZoom->addWidget(m_previewOut);
    previewZoom->addWidget(m_previewScale);
    previewZoom->addStretch();

    auto* group = new QGroupBox(QStringLiteral("Matching"), this);
    auto* radios = new QVBoxLayout(group);
    radios->addWidget(m_scaleOnly);
    radios->addWidget(m_rotateScale);
    radios->addWidget(m_affine);
    auto* side = new QVBoxLayout;
    side->addWidget(group);
    side->addWidget(m_reset);
    side->addStretch();
    side->addWidget(m_apply);
    side->addWidget(m_abort);

    auto* grid = new QGridLayout(this);
    grid->setSpacing(8);
    grid->addWidget(m_panes[0], 0, 0);
    grid->addWidget(m_panes[1], 0, 1);
    grid->addLayout(photoZoom, 1, 0, 1, 2);
    grid->addWidget(m_panes[2], 2, 0, 1, 2);
    grid->addLayout(previewZoom, 3, 0, 1, 2);
    grid->addLayout(side, 0, 2, 4, 1);
    grid->setRowStretch(0, 5);
    grid->setRowStretch(2, 4);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
}

void CDlgMatching::SetElements(IPanoElement* first, IPanoElement* second) {
    if (!first || !second)
        return;
    // Pixels dropped to save memory come back here, on this thread, before
    // the worker and the painting read them.
    first->Reload();
    second->Reload();
    first->AddRef();
    m_element1.Reset(first);
    second->AddRef();
    m_element2.Reset(second);
    m_display1 = DisplayImage(first);
    m_display2 = DisplayImage(second);
    // The worker is stopped before this dialog goes, so it may post to it.
    m_worker.SetElements(first, second,
                         [this] { QCoreApplication::postEvent(this, new QEvent(kPreviewReadyEvent)); });
}

void CDlgMatching::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
}

void CDlgMatching::OnInitDialog() {
    // The panes' sizes decide their zooms: lay them out first.
    if (layout())
        layout()->activate();
    m_panes[0]->SetImage(m_display1.Get(), true);
    m_panes[1]->SetImage(m_display2.Get(), true);
    m_panes[0]->ActualSize();
    m_panes[1]->ActualSize();
    m_panes[2]->SetMaxZoom(100.0);
    m_panes[2]->FitToWindow(true);
    m_panes[2]->SetCacheEnabled(false);
    if (m_matcher) {
        m_panes[0]->LoadMarkers(m_matcher, 0);
        m_panes[1]->LoadMarkers(m_matcher, 1);
        ZoomToMarkers();
        const bool locked = m_matcher->GetOptionFlag();
        for (QRadioButton* r : {m_scaleOnly, m_rotateScale, m_affine})
            r->setEnabled(!locked);
    }
    UpdateZoomButtons();
    if (m_matcher)
        SetMotionModelRadios(m_matcher->GetMotionModel());
    RequestPreview();
    UpdateImageScaleText();
}

void CDlgMatching::ZoomToMarkers() {
    const double z1 = m_panes[0]->ZoomToMarkers();
    const double z2 = m_panes[1]->ZoomToMarkers();
    const double z = (z1 < z2 ? m_panes[0] : m_panes[1])->ZoomToMarkers();
    m_panes[0]->SetZoomLevel(z, true);
    m_panes[1]->SetZoomLevel(z, true);
}

void CDlgMatching::Reset() {
    if (!m_matcher)
        return;
    m_matcher->Reset();
    m_apply->setEnabled(true);
    m_panes[0]->LoadMarkers(m_matcher, 0);
    m_panes[1]->LoadMarkers(m_matcher, 1);
    ZoomToMarkers();
    SetMotionModelRadios(m_matcher->GetMotionModel());
    RequestPreview();
}

void CDlgMatching::SetMotionModelRadios(int model) {
    m_scaleOnly->setChecked(model == 2);
    m_rotateScale->setChecked(model == 1);
    m_affine->setChecked(model == 0);
    // Two marker pairs decide the two narrower models.
    m_panes[0]->ShowMarker(2, model == 0);
    m_panes[1]->ShowMarker(2, model == 0);
}

void CDlgMatching::OnMotionModel(int model) {
    if (!m_matcher)
        return;
    m_matcher->SetMotionModel(model);
    SetMotionModelRadios(model);
    RequestPreview();
}

void CDlgMatching::RequestPreview() {
    if (!m_matcher)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_shown.Reset();
    double transform[9];
    m_matcher->GetTransform(transform);
    const bool invalid = m_matcher->IsTransformInvalid();
    // "&Apply" follows every change of the transform, the model's included.
    m_apply->setEnabled(!invalid);
    if (invalid) {
        m_worker.Invalidate();
        ShowPreviewResult();
    } else {
        m_worker.Request(transform);
    }
    QApplication::restoreOverrideCursor();
}

void CDlgMatching::ShowPreviewResult() {
    // A result that arrives after the dialog was closed is not shown.
    if (!m_worker.IsRunning())
        return;
    // One result is shown once, however often it was announced.
    QCoreApplication::removePostedEvents(this, kPreviewReadyEvent);
    m_shown = m_worker.TakeResult();
    CPictPreview* pane = m_panes[2];
    pane->SetImage(m_shown.Get(), false);
    pane->SetCaption(m_shown ? QString() : m_noMatchText);
    pane->FitToWindow(true);
    pane->update();
    UpdatePreviewScaleText();
    UpdateZoomButtons();
}

bool CDlgMatching::event(QEvent* event) {
    if (event->type() == kPreviewReadyEvent) {
        ShowPreviewResult();
        return true;
    }
    return QDialog::event(event);
}

void CDlgMatching::StopWorker() {
    m_worker.Stop();
}

void CDlgMatching::OnOK() {
    StopWorker();
    done(kIdOk);
}

void CDlgMatching::OnCancel() {
    StopWorker();
    done(kIdCancel);
}

void CDlgMatching::OnMarkerMoved() {
    RequestPreview();
}

void CDlgMatching::OnZoomPhotos(bool up) {
    m_panes[0]->ZoomStep(nullptr, up);
    m_panes[1]->ZoomStep(nullptr, up);
    UpdateZoomButtons();
    UpdateImageScaleText();
}

void CDlgMatching::OnZoomPreview(bool up) {
    m_panes[2]->ZoomStep(nullptr, up);
    UpdateZoomButtons();
    UpdatePreviewScaleText();
}

void CDlgMatching::OnPaneZoomed(bool up, CPictPreview* pane) {
    if (pane == m_panes[0])
        m_panes[1]->ZoomStep(nullptr, up);
    else if (pane == m_panes[1])
        m_panes[0]->ZoomStep(nullptr, up);
    else if (pane == m_panes[2])
        UpdatePreviewScaleText();
    UpdateZoomButtons();
    UpdateImageScaleText();
}

void CDlgMatching::UpdateZoomButtons() {
    m_photosIn->setEnabled(m_panes[0]->CanZoom(true) && m_panes[1]->CanZoom(true));
    m_photosOut->setEnabled(m_panes[0]->CanZoom(false) && m_panes[1]->CanZoom(false));
    m_previewIn->setEnabled(m_panes[2]->CanZoom(true));
    m_previewOut->setEnabled(m_panes[2]->CanZoom(false));
}

void CDlgMatching::UpdateImageScaleText() {
    if (m_panes[0]->GetImage() || m_panes[1]->GetImage())
        m_imageScale->setText(ScaleText(257, m_panes[0]->GetZoom()));
    else
        m_imageScale->clear();
}

void CDlgMatching::UpdatePreviewScaleText() {
    if (m_panes[2]->GetImage())
        m_previewScale->setText(ScaleText(258, m_panes[2]->GetZoom()));
    else
        m_previewScale->clear();
}

QRect CDlgMatching::FocusFrame() const {
    return m_focused ? m_focused->geometry().adjusted(-3, -3, 3, 3) : QRect();
}

void CDlgMatching::OnPaneFocus(bool gained, CPictPreview* pane) {
    // The old frame's edges are repainted without it, the new one's with it.
    if (!FocusFrame().isNull())
        update(QRegion(FocusFrame()) - QRegion(FocusFrame().adjusted(1, 1, -1, -1)));
    m_focused = gained ? pane : nullptr;
    if (!FocusFrame().isNull())
        update(QRegion(FocusFrame()) - QRegion(FocusFrame().adjusted(1, 1, -1, -1)));
}

void CDlgMatching::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    // A sunken edge around each pane.
    painter.setPen(palette().color(QPalette::Mid));
    for (const CPictPreview* pane : m_panes)
        painter.drawRect(pane->geometry().adjusted(-1, -1, 0, 0));
    if (m_focused) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = FocusFrame();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

MarkerSkin CDlgMatching::SkinMarkers() {
    return ReadMarkerSkin(
        [](std::string_view key) { return Skin::String("MARKERS", std::string(key).c_str()).toStdString(); },
        Skin::ResFolder().toStdString());
}

int CDlgMatching::MatchPair(QWidget* parent, IPanoElement* first, IPanoElement* second,
                            PanoramaLib::IManualMatcher* matcher, const MarkerSkin& markers) {
    if (!first || !second || !matcher)
        return kIdCancel;
    CDlgMatching dialog(parent, markers);
    dialog.SetElements(first, second);
    dialog.SetMatcher(matcher);
    return dialog.DoModal() == kIdOk ? kIdOk : kIdCancel;
}

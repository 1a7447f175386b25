#include "CustomDialogBar.h"

#include <QPainter>
#include <QResizeEvent>

#include "Bitmap32.h"
#include "CommandIds.h"
#include "SkinAccess.h"
#include "StringTable.h"
#include "TabstopNavigator.h"
#include "UiServices.h"

namespace {

struct TabEntry {
    const char* text;
    int command;
    unsigned tooltip;
};
// The "&Task" menu's items.
constexpr TabEntry kTabs[] = {
    {"1. Add Images", CmdId::TaskAddImages, 299},
    {"2. Stitch", CmdId::TaskStitch, 300},
    {"3. Export", CmdId::TaskExport, 301},
};
constexpr unsigned kLogoTooltip = 298;
constexpr unsigned kHomePage = 297;

QString Str(unsigned id) {
    return QString::fromUtf8(Res::LoadStr(id));
}

}  // namespace

CCustomButton::CCustomButton(QWidget* parent) : QPushButton(parent) {
    setFlat(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void CCustomButton::SetImage(const QString& path) {
    image_ = Bitmap32::LoadSkinPicture(path);
    update();
}

void CCustomButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!noBackground_ && framed_)
        p.fillRect(rect(), palette().button());
    if (image_.isNull())
        return;
    const int inset = framed_ ? 5 : 1;
    QPoint at((width() - image_.width()) / 2, (height() - image_.height()) / 2);
    at.rx() = std::max(at.x(), inset);
    if (isDown())
        at += QPoint(1, 1);
    else if (underMouse())
        at -= QPoint(1, 1);
    p.drawImage(at, image_);
}

CCustomDialogBar::CCustomDialogBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("128"));
    CTabstopNavigator::AddWindow(this, CTabstopNavigator::TaskTabs);

    tabs_ = new CCustomTabCtrl(this);
    tabs_->setObjectName(QStringLiteral("1"));
    tabs_->SetImageStrips(Skin::ImagePath("TASK TOOLBAR", "STANDARD"),
                          Skin::ImagePath("TASK TOOLBAR", "DISABLE"), Skin::ImagePath("TASK TOOLBAR", "HOT"));
    CCustomTabCtrl::Colors colors;
    colors.background = Skin::Color("TASK TABS", "BACKGROND COLOR", QColor(255, 0, 0));
    colors.select = Skin::Color("TASK TABS", "SELECT COLOR", QColor(0, 255, 0));
    colors.textNormal = Skin::Color("TASK TABS", "TEXT NORMAL COLOR", QColor(0, 0, 255));
    colors.textSelect = Skin::Color("TASK TABS", "TEXT SELECT COLOR", QColor(255, 0, 255));
    colors.textHighlight = Skin::Color("TASK TABS", "TEXT HIGHLIGHT COLOR", QColor(0, 255, 255));
    tabs_->SetColors(colors);
    for (int i = 0; i < int(std::size(kTabs)); ++i) {
        tabs_->InsertTab(i, QString::fromUtf8(kTabs[i].text), i);
        tabs_->SetTabCommandId(i, kTabs[i].command);
        tabs_->setTabToolTip(i, Str(kTabs[i].tooltip));
    }
    connect(tabs_, &CCustomTabCtrl::TabCommand, this, &CCustomDialogBar::Command);

    logo_ = new CCustomButton(this);
    logo_->setObjectName(QStringLiteral("2"));
    logo_->SetImage(Skin::ImagePath("MAIN", "LOGO_TAB"));
    logo_->SetNoBackground(false);
    logo_->SetFramed(false);
    logo_->setToolTip(Str(kLogoTooltip));
    connect(logo_, &QPushButton::clicked, this, [] { UiServices::OpenUrl(Str(kHomePage)); });

    zoom_ = new CZoomCtrl(this);
    zoom_->setObjectName(QStringLiteral("300"));
    zoom_->SetRange(50, 100);
    zoom_->SetStep(10);
    zoom_->SetSliderBackColor(colors.background);
}

CCustomDialogBar::~CCustomDialogBar() {
    CTabstopNavigator::RemoveWindow(this);
}

void CCustomDialogBar::SelectTab(int index) {
    if (index < 0 || index >= tabs_->count())
        return;
    tabs_->SetCurSel(index);
}

void CCustomDialogBar::SetZoomPos(int position) {
    zoom_->SetPos(position);
}

void CCustomDialogBar::SetZoomRange(int position, int minimum, int maximum, int step) {
    zoom_->SetRange(minimum, maximum);
    zoom_->SetStep(step);
    zoom_->SetPos(position);
}

CCustomDialogBar::Layout CCustomDialogBar::ComputeLayout(int cx, int cy, int bandHeight, QSize zoomSize) {
    Layout l;
    l.tabs = QRect(0, 0, std::max(0, cx - kTabsRightGap), cy);
    l.logo = QRect(cx - kLogoWidth, 0, kLogoWidth, std::max(0, cy - bandHeight));
    l.zoom = QRect(QPoint(cx - kTabsRightGap, 0), zoomSize);
    return l;
}

QSize CCustomDialogBar::sizeHint() const {
    return QSize(800, tabs_->sizeHint().height() + CCustomTabCtrl::kBandHeight);
}

void CCustomDialogBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int cx = event->size().width(), cy = event->size().height();
    const int band = CCustomTabCtrl::kBandHeight;
    const int zoomHeight = std::min(cy - band, 26);
    const Layout l = ComputeLayout(cx, cy, band, QSize(CZoomCtrl::kWidth, zoomHeight));
    tabs_->setGeometry(l.tabs);
    logo_->setGeometry(l.logo);
    // The zoom bar sits in the tab row, vertically centred above the band.
    zoom_->setGeometry(l.zoom.translated(0, std::max(0, (cy - band - zoomHeight) / 2)));
    update();
}

void CCustomDialogBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const CCustomTabCtrl::Colors& c = tabs_->GetColors();
    p.fillRect(rect(), c.background);
    const QRect band = tabs_->GetBandRect();
    p.fillRect(QRect(0, tabs_->y() + band.top(), width(), band.height()), c.select);
}

#include "CDlgPrintSetup.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "DialogText.h"
#include "PrinterServices.h"
#include "StringTable.h"

namespace {

using DialogText::Named;
using DialogText::Str;

}  // namespace

CDlgPrintSetup::CDlgPrintSetup(QWidget* parent) : CBaseDialog(kTemplateId, parent), m_pagesWord(Str(221)) {
    // A child page inside the export page, not a window of its own.
    setWindowFlags(Qt::Widget);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* over = new QGridLayout;
    auto* overLabel = new QLabel(QStringLiteral("&Print over"), this);
    m_pages = Named(new QLineEdit(this), kPages);
    overLabel->setBuddy(m_pages);
    over->addWidget(overLabel, 0, 0);
    over->addWidget(m_pages, 0, 1);
    layout->addLayout(over);

    auto* scale = new QGroupBox(QStringLiteral("Scale"), this);
    auto* scaleLayout = new QGridLayout(scale);
    m_fit = Named(new QRadioButton(QStringLiteral("&Fit to paper"), scale), kFit);
    m_manual = Named(new QRadioButton(QStringLiteral("&Manual"), scale), kManual);
    scaleLayout->addWidget(m_fit, 0, 0, 1, 2);
    scaleLayout->addWidget(m_manual, 1, 0, 1, 2);
    auto* widthLabel = new QLabel(QStringLiteral("&Width:"), scale);
    m_width = Named(new QLineEdit(scale), kWidth);
    widthLabel->setBuddy(m_width);
    auto* heightLabel = new QLabel(QStringLiteral("&Height:"), scale);
    m_height = Named(new QLineEdit(scale), kHeight);
    heightLabel->setBuddy(m_height);
    scaleLayout->addWidget(widthLabel, 2, 0);
    scaleLayout->addWidget(m_width, 2, 1);
    scaleLayout->addWidget(heightLabel, 3, 0);
    scaleLayout->addWidget(m_height, 3, 1);
    m_keep = Named(new QCheckBox(QStringLiteral("&Keep proportions"), scale), kKeepProportions);
    scaleLayout->addWidget(m_keep, 4, 0, 1, 2);
    layout->addWidget(scale);

    auto* margins = new QGroupBox(QStringLiteral("Margins"), this);
    auto* marginLayout = new QGridLayout(margins);
    marginLayout->setHorizontalSpacing(4);
    struct MarginEdit {
        const char* text;
        int id;
        QLineEdit** edit;
        int row, column;
    } edits[] = {{"&Top:", kTop, &m_top, 0, 0},
                 {"&Left:", kLeft, &m_left, 0, 2},
                 {"&Bottom:", kBottom, &m_bottom, 1, 0},
                 {"&Right:", kRight, &m_right, 1, 2}};
    for (const MarginEdit& e : edits) {
        auto* label = new QLabel(QString::fromUtf8(e.text), margins);
        *e.edit = Named(new QLineEdit(margins), e.id);
        (*e.edit)->setMinimumWidth(44);
        label->setBuddy(*e.edit);
        marginLayout->addWidget(label, e.row, e.column);
        marginLayout->addWidget(*e.edit, e.row, e.column + 1);
    }
    layout->addWidget(margins);

    auto* overlap = new QGridLayout;
    m_overlapOn = Named(new QCheckBox(QStringLiteral("&Overlap:"), this), kOverlapOn);
    m_overlap = Named(new QLineEdit(this), kOverlap);
    overlap->addWidget(m_overlapOn, 0, 0);
    overlap->addWidget(m_overlap, 0, 1);
    layout->addLayout(overlap);
    resize(QSize(232, layout->sizeHint().height()));

    connect(m_pages, &QLineEdit::textEdited, this, [this] { OnPagesChanged(false); });
    connect(m_pages, &QLineEdit::editingFinished, this, [this] { OnPagesChanged(true); });
    connect(m_fit, &QRadioButton::clicked, this, [this] { OnScale(0); });
    connect(m_manual, &QRadioButton::clicked, this, [this] { OnScale(1); });
    connect(m_keep, &QCheckBox::clicked, this, &CDlgPrintSetup::OnKeepProportions);
    connect(m_overlapOn, &QCheckBox::clicked, this, &CDlgPrintSetup::OnOverlapOn);
    connect(m_width, &QLineEdit::textEdited, this, [this] { OnSizeChanged(true, false); });
    connect(m_width, &QLineEdit::editingFinished, this, [this] { OnSizeChanged(true, true); });
    connect(m_height, &QLineEdit::textEdited, this, [this] { OnSizeChanged(false, false); });
    connect(m_height, &QLineEdit::editingFinished, this, [this] { OnSizeChanged(false, true); });
    for (int id : {kLeft, kRight, kTop, kBottom}) {
        connect(Edit(id), &QLineEdit::textEdited, this, [this, id] { OnMarginChanged(id, false); });
        connect(Edit(id), &QLineEdit::editingFinished, this, [this, id] { OnMarginChanged(id, true); });
    }
    connect(m_overlap, &QLineEdit::textEdited, this, [this] { OnOverlapChanged(false); });
    connect(m_overlap, &QLineEdit::editingFinished, this, [this] { OnOverlapChanged(true); });
}

int CDlgPrintSetup::GetTooltipStringId(int controlId) const {
    switch (controlId) {
        case kPages:
            return 277;
        case kFit:
            return 278;
        case kManual:
            return 279;
        case kWidth:
            return 280;
        case kHeight:
            return 281;
        case kKeepProportions:
            return 282;
        case kTop:
            return 283;
        case kLeft:
            return 284;
        case kBottom:
            return 285;
        case kRight:
            return 286;
        case kOverlapOn:
            return 294;
        case kOverlap:
            return 295;
        default:
            return 0;
    }
}

void CDlgPrintSetup::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    UpdateControls();
}

QLineEdit* CDlgPrintSetup::Edit(int id) const {
    return findChild<QLineEdit*>(QString::number(id));
}

QString CDlgPrintSetup::FormatLength(int value) const {
    return QString::fromStdString(
        PrintSetupRules::FormatLength(value, Inch(), Res::LoadStr(Inch() ? 222 : 223)));
}

QString CDlgPrintSetup::PagesText(int pages) const {
    return QStringLiteral("%1 %2").arg(pages).arg(m_pagesWord);
}

PrintSetupRules::PaperInfo CDlgPrintSetup::Paper() const {
    return PrintSetupRules::PaperInfo{m_paperWidth, m_paperHeight, m_resX, m_resY, m_sideBySide != 0};
}

int CDlgPrintSetup::Read(int id) const {
    return PrintSetupRules::ReadLength(Edit(id)->text().toStdString(), Inch());
}

void CDlgPrintSetup::SetText(int id, const QString& text) {
    QLineEdit* edit = Edit(id);
    if (edit->text() != text)
        edit->setText(text);
}

void CDlgPrintSetup::Store() {
    if (m_pPrint)
        m_pPrint->SetLayout(&m_layout);
}

void CDlgPrintSetup::ApplyEnabling() {
    const bool e = m_enabled;
    const bool manual = m_layout.scaleMode == 1;
    m_pages->setEnabled(e && !manual);
    m_fit->setEnabled(e);
    m_manual->setEnabled(e);
    m_width->setEnabled(e && manual);
    m_height->setEnabled(e && manual);
    m_keep->setEnabled(e && manual);
    for (QLineEdit* edit : {m_top, m_left, m_bottom, m_right})
        edit->setEnabled(e && m_paperKnown && !m_layout.physicalPage);
    m_overlapOn->setEnabled(e);
    m_overlap->setEnabled(e && m_layout.overlapOn);
}

void CDlgPrintSetup::EnablePage(bool enable) {
    m_enabled = enable;
    ApplyEnabling();
}

void CDlgPrintSetup::UpdateControls() {
    m_ready = false;
    m_computedPages = 1;
    if (m_pPrint) {
        m_pPrint->GetLayout(&m_layout);
        const int wide = m_pPrint->IsResultWide();
        if (wide != m_sideBySide) {
            // The pages turned: the manual size is worked out again.
            m_sideBySide = wide;
            m_layout.width = m_layout.height = 0;
            m_pPrint->SetLayout(&m_layout);
            m_pPrint->GetLayout(&m_layout);
        }
        m_computedPages = m_pPrint->GetPageCount(&m_layout);
        m_pPrint->SetLayout(&m_layout);
    }
    m_fit->setChecked(m_layout.scaleMode == 0);
    m_manual->setChecked(m_layout.scaleMode == 1);
    m_pages->setText(PagesText(m_layout.scaleMode == 0 ? m_layout.pages : m_computedPages));

    m_paperKnown = m_pPrint && m_pPrint->GetPaperSize(&m_paperWidth, &m_paperHeight, &m_resX, &m_resY,
                                                      m_layout.physicalPage != 0);
    m_keep->setChecked(m_layout.keepProportions != 0);
    if (m_layout.width == 0 && m_layout.height == 0) {
        m_width->setText(FormatLength(0));
        m_height->setText(FormatLength(0));
    } else {
        const int width = PrintSetupRules::ClampWidth(m_layout.width, m_layout, Paper());
        const int height = PrintSetupRules::ClampHeight(m_layout.height, m_layout, Paper());
        if (width != m_layout.width || height != m_layout.height) {
            m_layout.width = width;
            m_layout.height = height;
            Store();
        }
        m_width->setText(FormatLength(width));
        m_height->setText(FormatLength(height));
    }
    const struct {
        QLineEdit* edit;
        int value;
    } margins[] = {{m_left, m_layout.leftMargin},
                   {m_top, m_layout.topMargin},
                   {m_right, m_layout.rightMargin},
                   {m_bottom, m_layout.bottomMargin}};
    for (const auto& m : margins)
        m.edit->setText(m_paperKnown ? FormatLength(m.value) : QString());
    m_overlapOn->setChecked(m_layout.overlapOn);
    m_overlap->setText(FormatLength(PrintSetupRules::ClampOverlap(m_layout.overlap, m_layout, Paper())));
    ApplyEnabling();
    m_ready = true;
}

void CDlgPrintSetup::OnPagesChanged(bool leaving) {
    if (!leaving && (!m_ready || m_layout.scaleMode != 0))
        return;
    m_layout.pages = PrintSetupRules::ReadPageCount(m_pages->text().toStdString());
    if (m_layout.scaleMode == 0) {
        Store();
        // The size edits show what the fit over these pages prints at.
        if (m_pPrint) {
            m_computedPages = m_pPrint->GetPageCount(&m_layout);
            Store();
        }
        if (m_layout.width != 0 || m_layout.height != 0) {
            SetText(kWidth, FormatLength(m_layout.width));
            SetText(kHeight, FormatLength(m_layout.height));
        }
    }
    if (leaving)
        SetText(kPages, PagesText(m_layout.pages));
}

void CDlgPrintSetup::OnScale(int mode) {
    m_layout.scaleMode = mode;
    ApplyEnabling();
    m_pages->setText(PagesText(mode == 0 ? m_layout.pages : m_computedPages));
    Store();
}

void CDlgPrintSetup::OnKeepProportions() {
    m_layout.keepProportions = !m_layout.keepProportions;
    if (m_layout.keepProportions) {
        if (m_sideBySide) {
            m_layout.height = PrintSetupRules::ClampHeight(Read(kHeight), m_layout, Paper());
            m_layout.width = PrintSetupRules::ProportionalWidth(m_layout.height, m_layout);
        } else {
            m_layout.width = PrintSetupRules::ClampWidth(Read(kWidth), m_layout, Paper());
            m_layout.height = PrintSetupRules::ProportionalHeight(m_layout.width, m_layout);
        }
        m_width->setText(FormatLength(m_layout.width));
        m_height->setText(FormatLength(m_layout.height));
    }
    Store();
}

void CDlgPrintSetup::OnOverlapOn() {
    m_layout.overlapOn = !m_layout.overlapOn;
    ApplyEnabling();
    Store();
}

void CDlgPrintSetup::OnSizeChanged(bool width, bool leaving) {
    const int self = width ? 1 : 2;
    const int other = width ? 2 : 1;
    if ((!leaving && !m_ready) || m_editing == other)
        return;
    m_editing = self;
    const int id = width ? kWidth : kHeight;
    const int value = width ? PrintSetupRules::ClampWidth(Read(kWidth), m_layout, Paper())
                            : PrintSetupRules::ClampHeight(Read(kHeight), m_layout, Paper());
    int& mine = width ? m_layout.width : m_layout.height;
    if (value != mine) {
        mine = value;
        if (m_layout.keepProportions) {
            if (width)
                m_layout.height = PrintSetupRules::ProportionalHeight(value, m_layout);
            else
                m_layout.width = PrintSetupRules::ProportionalWidth(value, m_layout);
        }
        Store();
        if (m_pPrint)
            m_computedPages = m_pPrint->GetPageCount(&m_layout);
        Store();
        if (m_layout.keepProportions)
            SetText(width ? kHeight : kWidth, FormatLength(width ? m_layout.height : m_layout.width));
        if (m_layout.scaleMode == 1)
            SetText(kPages, PagesText(m_computedPages));
    }
    if (leaving)
        SetText(id, FormatLength(mine));
    m_editing = 0;
}

void CDlgPrintSetup::OnMarginChanged(int id, bool leaving) {
    if (!leaving && !m_ready)
        return;
    using PrintSetupRules::Margin;
    const Margin which = id == kLeft    ? Margin::Left
                         : id == kRight ? Margin::Right
                         : id == kTop   ? Margin::Top
                                        : Margin::Bottom;
    int& margin = id == kLeft    ? m_layout.leftMargin
                  : id == kRight ? m_layout.rightMargin
                  : id == kTop   ? m_layout.topMargin
                                 : m_layout.bottomMargin;
    const int value = PrintSetupRules::ClampMargin(which, Read(id), m_layout, Paper());
    if (value != margin) {
        margin = value;
        Store();
        const bool along = m_sideBySide ? (id == kLeft || id == kRight) : (id == kTop || id == kBottom);
        if (along) {
            const int overlap = PrintSetupRules::ClampOverlap(m_layout.overlap, m_layout, Paper());
            if (overlap != m_layout.overlap) {
                m_layout.overlap = overlap;
                Store();
                SetText(kOverlap, FormatLength(overlap));
            }
        }
    }
    if (leaving)
        SetText(id, FormatLength(margin));
}

void CDlgPrintSetup::OnOverlapChanged(bool leaving) {
    if (!leaving && !m_ready)
        return;
    const int value = PrintSetupRules::ClampOverlap(Read(kOverlap), m_layout, Paper());
    if (value != m_layout.overlap) {
        m_layout.overlap = value;
        Store();
    }
    if (leaving)
        SetText(kOverlap, FormatLength(m_layout.overlap));
}

#include "CDlgOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialogText.h"
#include "StringTable.h"

namespace {

using DialogText::Named;
using DialogText::Str;

}  // namespace

CDlgOptions::CDlgOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(kTemplateId));
    setWindowTitle(QStringLiteral("Options"));
    auto* layout = new QVBoxLayout(this);

    auto* print = new QGroupBox(QStringLiteral("Print"), this);
    auto* printLayout = new QGridLayout(print);
    auto* unitsLabel = new QLabel(QStringLiteral("Size &units:"), print);
    m_units = Named(new QComboBox(print), kUnits);
    unitsLabel->setBuddy(m_units);
    printLayout->addWidget(unitsLabel, 0, 0);
    printLayout->addWidget(m_units, 0, 1);
    m_markers = Named(new QCheckBox(QStringLiteral("&Print matching markers"), print), kPrintMarkers);
    printLayout->addWidget(m_markers, 1, 0, 1, 2);
    layout->addWidget(print);

    auto* save = new QGroupBox(QStringLiteral("Save"), this);
    auto* saveLayout = new QVBoxLayout(save);
    m_showOptions = Named(new QCheckBox(QStringLiteral("&Show saving options"), save), kShowOptions);
    saveLayout->addWidget(m_showOptions);
    layout->addWidget(save);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_ok = Named(new QPushButton(QStringLiteral("OK"), this), kOk);
    m_ok->setDefault(true);
    m_cancel = Named(new QPushButton(QStringLiteral("Cancel"), this), kCancel);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);

    for (QWidget* w : std::initializer_list<QWidget*>{m_ok, m_cancel, m_showOptions, m_units, m_markers}) {
        // The first line of the string, as a tooltip shows it.
        const QString text = Str(GetTooltipStringId(w->objectName().toInt())).section('\n', 0, 0);
        w->setToolTip(text);
    }

    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_showOptions, &QCheckBox::clicked, this, [this](bool on) { m_bShowSavingOptions = on; });
    connect(m_markers, &QCheckBox::clicked, this, [this](bool on) { m_bPrintMarkers = on; });
    connect(m_units, &QComboBox::activated, this, [this](int index) { m_bInchUnits = index == 1; });
}

int CDlgOptions::GetTooltipStringId(int controlId) {
    switch (controlId) {
        case kOk:
            return 292;
        case kCancel:
            return 293;
        case kShowOptions:
            return 291;
        case kUnits:
            return 289;
        case kPrintMarkers:
            return 290;
        default:
            return 0;
    }
}

void CDlgOptions::OnInitDialog() {
    m_units->clear();
    m_units->addItem(Str(223));
    m_units->addItem(Str(222));
    m_units->setCurrentIndex(m_bInchUnits ? 1 : 0);
    m_showOptions->setChecked(m_bShowSavingOptions != 0);
    m_markers->setChecked(m_bPrintMarkers != 0);
}

int CDlgOptions::DoModal() {
    OnInitDialog();
    return exec() == QDialog::Accepted ? 1 : 2;
}

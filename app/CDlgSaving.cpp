#include "CDlgSaving.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "StringTable.h"
#include "TabstopNavigator.h"

namespace {

QString Str(unsigned id) {
    return QString::fromStdString(Res::LoadStr(id));
}

template <class Widget>
Widget* Named(Widget* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

}  // namespace

CDlgSaving::CDlgSaving(QWidget* parent) : CBaseDialog(kTemplateId, parent), m_title(Str(202)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);

    auto* render = Named(new QGroupBox(QStringLiteral("Render"), this), kRenderGroup);
    auto* renderLayout = new QVBoxLayout(render);
    renderLayout->addWidget(Named(new QLabel(QStringLiteral("Cropping:"), render), kCroppingLabel));
    m_aspect = Named(new QComboBox(render), kAspect);
    renderLayout->addWidget(m_aspect);
    m_start = Named(new QPushButton(QStringLiteral("&Start"), render), kStart);
    renderLayout->addWidget(m_start);
    layout->addWidget(render);

    m_sendToWeb = Named(new QPushButton(QStringLiteral("Send to web..."), this), kSendToWeb);
    layout->addWidget(m_sendToWeb);
    m_exportButton = Named(new QPushButton(QStringLiteral("Export To &Graphic File..."), this), kExport);
    layout->addWidget(m_exportButton);
    m_print = Named(new QPushButton(QStringLiteral("P&rint"), this), kPrint);
    layout->addWidget(m_print);

    m_pageSetup = Named(new QGroupBox(QStringLiteral("Page Setup"), this), kPageSetupGroup);
    auto* setupLayout = new QVBoxLayout(m_pageSetup);
    auto* placeholder = Named(new QWidget(m_pageSetup), kPageSetupPlaceholder);
    placeholder->setMinimumHeight(24);
    setupLayout->addWidget(placeholder);
    layout->addWidget(m_pageSetup);

    auto* pages = Named(new QGroupBox(QStringLiteral("Print pages"), this), kPagesGroup);
    auto* pagesLayout = new QHBoxLayout(pages);
    pagesLayout->addWidget(Named(new QLabel(QStringLiteral("from:"), pages), kFromLabel));
    m_from = Named(new QLineEdit(pages), kFrom);
    m_from->setValidator(new QIntValidator(m_from));
    pagesLayout->addWidget(m_from);
    pagesLayout->addWidget(Named(new QLabel(QStringLiteral("to:"), pages), kToLabel));
    m_to = Named(new QLineEdit(pages), kTo);
    m_to->setValidator(new QIntValidator(m_to));
    pagesLayout->addWidget(m_to);
    layout->addWidget(pages);

    auto* printer = Named(new QGroupBox(QStringLiteral("Printer"), this), kPrinterGroup);
    auto* printerLayout = new QVBoxLayout(printer);
    m_printerCombo = Named(new QComboBox(printer), kPrinterCombo);
    printerLayout->addWidget(m_printerCombo);
    m_printerDescription = Named(new QLabel(printer), kPrinterDescription);
    m_printerDescription->setWordWrap(true);
    printerLayout->addWidget(m_printerDescription);
    layout->addWidget(printer);

    auto* printButtons = new QHBoxLayout;
    m_printPreview = Named(new QPushButton(QStringLiteral("Print Pre&view"), this), kPrintPreview);
    m_printerButton = Named(new QPushButton(QStringLiteral("&Printer..."), this), kPrinterButton);
    printButtons->addWidget(m_printPreview);
    printButtons->addWidget(m_printerButton);
    layout->addLayout(printButtons);
    layout->addStretch(1);

    for (QWidget* w : std::initializer_list<QWidget*>{m_print, m_pageSetup, pages, m_printerCombo,
                                                      m_printPreview, m_printerButton})
        w->setEnabled(false);

    resize(QSize(240, layout->sizeHint().height()));

    connect(m_start, &QPushButton::clicked, this, [this] {
        if (m_export)
            m_export->Render();
    });
    connect(m_exportButton, &QPushButton::clicked, this, [this] {
        if (m_export)
            m_export->Export();
    });
    connect(m_sendToWeb, &QPushButton::clicked, this, [this] {
        if (m_export)
            m_export->SendToWeb();
    });
    connect(m_aspect, &QComboBox::currentIndexChanged, this, &CDlgSaving::OnAspectChanged);
}

int CDlgSaving::GetTooltipStringId(int controlId) const {
    switch (controlId) {
        case kStart:
            return 269;
        case kExport:
            return 275;
        case kPrint:
            return 276;
        case kPrinterButton:
            return 274;
        case kPrintPreview:
            return 273;
        case kPrinterCombo:
            return 272;
        case kFrom:
            return 270;
        case kTo:
            return 271;
        case kAspect:
            return 320;
        default:
            return 0;
    }
}

void CDlgSaving::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CTabstopNavigator::AddWindow(this, 4);
    FillAspectCombo();
    UpdateControls();
    m_initialised = true;
}

void CDlgSaving::FillAspectCombo() {
    if (!m_products || m_aspect->count() > 0)
        return;
    std::vector<NetPrint::CAspectData>* list = m_products->GetProductList();
    if (!list)
        return;
    m_filling = true;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const NetPrint::CAspectData& product = (*list)[i];
        QString text = QString::fromStdString(product.name);
        if (text.isEmpty())
            text = Str(315).replace(QStringLiteral("%i"), QString::number(i + 1));
        if (product.kind == 2)
            text += Str(332);
        m_aspect->addItem(text, QVariant::fromValue(static_cast<qulonglong>(i)));
    }
    m_filling = false;
}

int CDlgSaving::ChoiceRow() const {
    if (!m_export)
        return -1;
    const int choice = m_export->GetExportState();
    if (m_aspect->count() == 0)
        return -1;
    if (choice < 0)
        return 0;
    if (choice >= m_aspect->count())
        return std::min(1, m_aspect->count() - 1);
    return choice;
}

void CDlgSaving::ShowSendToWebFor(const NetPrint::CAspectData* product) {
    m_sendToWeb->setVisible(product && product->kind == 2);
}

void CDlgSaving::OnAspectChanged(int index) {
    if (m_filling || !m_products || !m_export || index < 0)
        return;
    std::vector<NetPrint::CAspectData>* list = m_products->GetProductList();
    if (!list || list->empty() || index >= static_cast<int>(list->size()))
        return;
    m_export->ApplyExportChoice(index);
    m_products->SelectPrintProduct((*list)[static_cast<std::size_t>(index)]);
    ShowSendToWebFor(&(*list)[static_cast<std::size_t>(index)]);
}

void CDlgSaving::UpdateControls() {
    if (!m_export)
        return;
    FillAspectCombo();
    const int row = ChoiceRow();
    std::vector<NetPrint::CAspectData>* list = m_products ? m_products->GetProductList() : nullptr;
    const NetPrint::CAspectData* product = list && row >= 0 && row < static_cast<int>(list->size())
                                               ? &(*list)[static_cast<std::size_t>(row)]
                                               : nullptr;
    if (product)
        m_products->SelectPrintProduct(*product);
    ShowSendToWebFor(product);

    const bool canRender = m_export->CanRenderFullResult();
    const bool current = m_export->IsFullResultCurrent();
    m_start->setEnabled(canRender);
    m_exportButton->setEnabled(current);
    m_sendToWeb->setEnabled(current);
    m_aspect->setEnabled(canRender && m_aspect->count() >= 2);
    if (row >= 0 && m_aspect->currentIndex() != row) {
        m_filling = true;
        m_aspect->setCurrentIndex(row);
        m_filling = false;
    }
}

#include "CDlgSaving.h"

#include <algorithm>

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "CDlgPrintSetup.h"
#include "CommandIds.h"
#include "DialogText.h"
#include "StringTable.h"
#include "TabstopNavigator.h"

namespace {

using DialogText::Named;
using DialogText::Str;

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
    // The print setup page takes the placeholder's place; the group grows with it.
    auto* placeholder = Named(new QWidget(m_pageSetup), kPageSetupPlaceholder);
    placeholder->hide();
    m_printSetup = new CDlgPrintSetup(m_pageSetup);
    setupLayout->addWidget(m_printSetup);
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

    for (QWidget* w : std::initializer_list<QWidget*>{m_print, m_printerCombo, m_printPreview})
        w->setEnabled(false);
    m_printSetup->EnablePage(false);

    m_aspect->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    resize(QSize(kPageWidth, layout->sizeHint().height()));

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

    const std::pair<QPushButton*, int> commands[] = {{m_print, CmdId::FilePrint},
                                                     {m_printPreview, CmdId::FilePrintPreview},
                                                     {m_printerButton, CmdId::FilePrintSetup}};
    for (const auto& [button, id] : commands)
        connect(button, &QPushButton::clicked, this, [this, id = id] {
            if (onCommand)
                onCommand(id);
        });
    connect(m_printerCombo, &QComboBox::activated, this, &CDlgSaving::OnPrinterChanged);
    connect(m_from, &QLineEdit::textEdited, this, [this] { OnRangeEdited(false); });
    connect(m_to, &QLineEdit::textEdited, this, [this] { OnRangeEdited(true); });
    // Leaving an edit shows the stored value again.
    for (QLineEdit* edit : {m_from, m_to})
        connect(edit, &QLineEdit::editingFinished, this, [this] {
            if (m_initialised)
                RefreshPageRange();
        });
}

void CDlgSaving::SetPrintInterface(PrintSetup::IPrintPnrm* print) {
    m_pPrint = print;
    m_printSetup->m_pPrint = print;
}

void CDlgSaving::FillPrinters() {
    if (!m_printers)
        return;
    m_printerNames.clear();
    m_printers->EnumPrinters(m_printerNames);
    m_printerCombo->clear();
    if (m_printerNames.empty())
        return;
    const std::string current = m_pPrint ? m_pPrint->GetPrinterName() : std::string();
    int selected = 0;
    for (std::size_t i = 0; i < m_printerNames.size(); ++i) {
        m_printerCombo->addItem(QString::fromStdString(m_printerNames[i]));
        if (m_printerNames[i] == current)
            selected = static_cast<int>(i);
    }
    m_printerCombo->setCurrentIndex(selected);
    m_printerName = m_printerCombo->currentText().toStdString();
}

void CDlgSaving::OnPrinterChanged(int index) {
    if (index < 0)
        return;
    const std::string name = m_printerCombo->itemText(index).toStdString();
    if (name == m_printerName)
        return;
    m_printerName = name;
    if (m_pPrint)
        m_pPrint->SetPrinterName(name);
    UpdateControls();
}

void CDlgSaving::OnRangeEdited(bool to) {
    if (!m_initialised || !m_pPrint)
        return;
    m_pPrint->SetPageRange(m_from->text().toInt(), m_to->text().toInt(), !to);
}

void CDlgSaving::RefreshPageRange() {
    if (!m_pPrint)
        return;
    int from = 1, to = 1;
    m_pPrint->GetPageRange(&from, &to);
    m_from->setText(QString::number(from));
    m_to->setText(QString::number(to));
    const bool single = from == 1 && to == 1;
    m_from->setEnabled(!single);
    m_to->setEnabled(!single);
}

QString CDlgSaving::DescribePrinter() {
    PrintSetup::CDevMode* mode = nullptr;
    PrinterCaps caps;
    const bool found =
        m_pPrint && m_pPrint->GetDevMode(m_printerName, &mode) && mode && m_pPrint->CreatePrinterDC(&caps);
    return QString::fromStdString(
        PrintSetup::DescribePrinter(found ? mode : nullptr, found ? &caps : nullptr));
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
    m_printSetup->show();
    FillPrinters();
    m_printerCombo->setEnabled(!m_printerNames.empty());
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
    FitToContents();
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
    const bool show = product && product->kind == 2;
    if (m_sendToWeb->isVisibleTo(this) == show)
        return;
    m_sendToWeb->setVisible(show);
    FitToContents();
}

void CDlgSaving::FitToContents() {
    // The page is not laid out by its host (a scroll area): it takes the
    // height its controls need, and the width of its longest product name.
    // The printer's description wraps, so its height follows the width.
    layout()->activate();
    const QSize hint = layout()->sizeHint();
    const int width = std::max(kPageWidth, hint.width());
    int height = std::max(hint.height(), layout()->minimumSize().height());
    if (layout()->hasHeightForWidth())
        height = std::max(height, layout()->totalHeightForWidth(width));
    resize(width, height);
}

bool CDlgSaving::event(QEvent* e) {
    const bool handled = CBaseDialog::event(e);
    // Any control that changed what it needs (a printer description of more
    // lines, a button shown, the style's fonts once shown) asks for a new
    // layout: the page grows with it instead of squeezing its edits.
    if (e->type() == QEvent::LayoutRequest && layout())
        FitToContents();
    return handled;
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

    const bool printable = current && (!m_pPrint || m_pPrint->IsPrinterAvailable());
    m_printerCombo->setEnabled(printable && !m_printerNames.empty());
    m_printSetup->EnablePage(printable);
    m_printPreview->setEnabled(printable);
    m_print->setEnabled(printable);
    m_printerDescription->setText(DescribePrinter());
    m_printSetup->UpdateDialog();
    RefreshPageRange();
}

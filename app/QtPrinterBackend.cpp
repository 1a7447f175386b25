#include "QtPrinterBackend.h"

#include <algorithm>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>

namespace {

using PrintSetup::CDevMode;

// Paper size numbers of the record for Qt's page sizes.
struct PaperPair {
    QPageSize::PageSizeId qt;
    std::int16_t number;
};
constexpr PaperPair kPapers[] = {
    {QPageSize::Letter, 1},
    {QPageSize::Tabloid, 3},
    {QPageSize::Ledger, 4},
    {QPageSize::Legal, 5},
    {QPageSize::Statement, 6},
    {QPageSize::Executive, 7},
    {QPageSize::A3, 8},
    {QPageSize::A4, 9},
    {QPageSize::A5, 11},
    {QPageSize::B4, 12},
    {QPageSize::B5, 13},
    {QPageSize::Folio, 14},
    {QPageSize::Quarto, 15},
    {QPageSize::Note, 18},
    {QPageSize::Envelope9, 19},
    {QPageSize::Envelope10, 20},
    {QPageSize::Envelope11, 21},
    {QPageSize::Envelope12, 22},
    {QPageSize::Envelope14, 23},
    {QPageSize::EnvelopeDL, 27},
    {QPageSize::EnvelopeC5, 28},
    {QPageSize::EnvelopeC3, 29},
    {QPageSize::EnvelopeC4, 30},
    {QPageSize::EnvelopeC6, 31},
    {QPageSize::EnvelopeC65, 32},
    {QPageSize::EnvelopeB4, 33},
    {QPageSize::EnvelopeB5, 34},
    {QPageSize::EnvelopeB6, 35},
    {QPageSize::EnvelopeMonarch, 37},
    {QPageSize::EnvelopePersonal, 38},
    {QPageSize::FanFoldUS, 39},
    {QPageSize::FanFoldGerman, 40},
    {QPageSize::FanFoldGermanLegal, 41},
    {QPageSize::Postcard, 43},
    {QPageSize::EnvelopeInvite, 47},
    {QPageSize::LetterExtra, 50},
    {QPageSize::LegalExtra, 51},
    {QPageSize::TabloidExtra, 52},
    {QPageSize::A4Extra, 53},
    {QPageSize::SuperA, 57},
    {QPageSize::SuperB, 58},
    {QPageSize::LetterPlus, 59},
    {QPageSize::A4Plus, 60},
    {QPageSize::A3Extra, 63},
    {QPageSize::A5Extra, 64},
    {QPageSize::B5Extra, 65},
    {QPageSize::A2, 66},
};

std::int16_t PaperNumber(const QPageSize& size) {
    for (const PaperPair& p : kPapers)
        if (p.qt == size.id())
            return p.number;
    return 256;  // a size of the driver's own
}

QPageSize QtPageSize(const CDevMode& mode) {
    for (const PaperPair& p : kPapers)
        if (p.number == mode.PaperSize())
            return QPageSize(p.qt);
    if (mode.PaperWidth() > 0 && mode.PaperLength() > 0)
        return QPageSize(QSizeF(mode.PaperWidth() / 10.0, mode.PaperLength() / 10.0), QPageSize::Millimeter);
    return QPageSize(QPageSize::A4);
}

// The record keeps the driver's make and model as its version word.
std::uint16_t DriverVersion(const QPrinterInfo& info) {
    const QByteArray model = info.makeAndModel().toUtf8();
    std::uint16_t h = 1;
    for (char c : model)
        h = static_cast<std::uint16_t>(h * 31 + static_cast<unsigned char>(c));
    return h;
}

void Apply(QPrinter& printer, const CDevMode& mode) {
    printer.setPageSize(QtPageSize(mode));
    printer.setPageOrientation(mode.Orientation() == CDevMode::kLandscape ? QPageLayout::Landscape
                                                                          : QPageLayout::Portrait);
    printer.setColorMode(mode.Color() == CDevMode::kMonochrome ? QPrinter::GrayScale : QPrinter::Color);
    printer.setCopyCount(std::max<int>(1, mode.Copies()));
    if (mode.PrintQuality() > 0)
        printer.setResolution(mode.PrintQuality());
    printer.setDuplex(mode.Duplex() == 2   ? QPrinter::DuplexLongSide
                      : mode.Duplex() == 3 ? QPrinter::DuplexShortSide
                                           : QPrinter::DuplexNone);
}

void Record(const QPrinter& printer, CDevMode& mode) {
    const QPageLayout layout = printer.pageLayout();
    mode.SetPaperSize(PaperNumber(layout.pageSize()));
    const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
    mode.SetPaperWidth(static_cast<std::int16_t>(mm.width() * 10 + 0.5));
    mode.SetPaperLength(static_cast<std::int16_t>(mm.height() * 10 + 0.5));
    mode.SetOrientation(layout.orientation() == QPageLayout::Landscape ? CDevMode::kLandscape
                                                                       : CDevMode::kPortrait);
    mode.SetColor(printer.colorMode() == QPrinter::Color ? CDevMode::kColor : CDevMode::kMonochrome);
    mode.SetCopies(static_cast<std::int16_t>(printer.copyCount()));
    mode.SetPrintQuality(static_cast<std::int16_t>(printer.resolution()));
    mode.SetDuplex(printer.duplex() == QPrinter::DuplexLongSide    ? 2
                   : printer.duplex() == QPrinter::DuplexShortSide ? 3
                                                                   : 1);
}

}  // namespace

bool CQtPrinterBackend::IsPdf(const std::string& printer) const {
    // An installed printer of that very name stays the system's.
    return printer == kPdfPrinter && QPrinterInfo::printerInfo(QString::fromLatin1(kPdfPrinter)).isNull();
}

QString CQtPrinterBackend::PdfOutput() const {
    if (!m_pdfOutput.isEmpty())
        return m_pdfOutput;
    return QDir::home().filePath(QStringLiteral("Horizel.pdf"));
}

QString CQtPrinterBackend::AskPdfFileName(QWidget* parent) const {
    QFileDialog dialog(parent, QStringLiteral("Print to PDF file"));
    dialog.setObjectName(QStringLiteral("PdfFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("PDF file (*.pdf)"));
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    const QFileInfo start(PdfOutput());
    dialog.setDirectory(start.absolutePath());
    dialog.selectFile(start.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

std::vector<std::string> CQtPrinterBackend::PrinterNames() {
    std::vector<std::string> names;
    for (const QString& name : QPrinterInfo::availablePrinterNames())
        names.push_back(name.toStdString());
    if (std::find(names.begin(), names.end(), kPdfPrinter) == names.end())
        names.push_back(kPdfPrinter);
    return names;
}

std::string CQtPrinterBackend::DefaultPrinterName() {
    const QString name = QPrinterInfo::defaultPrinterName();
    if (name.isEmpty())
        return kPdfPrinter;
    return name.toStdString();
}

bool CQtPrinterBackend::DefaultDevMode(const std::string& printer, CDevMode& mode) {
    std::unique_ptr<QPrinter> device;
    std::uint16_t version = 1;
    if (IsPdf(printer)) {
        device = std::make_unique<QPrinter>(QPrinter::HighResolution);
        device->setOutputFormat(QPrinter::PdfFormat);
    } else {
        const QPrinterInfo info = QPrinterInfo::printerInfo(QString::fromStdString(printer));
        if (info.isNull())
            return false;
        device = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
        version = DriverVersion(info);
    }
    mode = CDevMode::Make(printer, version);
    Record(*device, mode);
    // Orientation and copies start as the driver's, whatever the last job did.
    mode.SetOrientation(CDevMode::kPortrait);
    mode.SetCopies(1);
    return true;
}

std::unique_ptr<QPrinter> CQtPrinterBackend::CreatePrinter(const std::string& printer, const CDevMode& mode) {
    std::unique_ptr<QPrinter> device;
    if (IsPdf(printer)) {
        device = std::make_unique<QPrinter>(QPrinter::HighResolution);
        device->setOutputFormat(QPrinter::PdfFormat);
        device->setOutputFileName(PdfOutput());
    } else {
        const QPrinterInfo info = QPrinterInfo::printerInfo(QString::fromStdString(printer));
        if (info.isNull())
            return nullptr;
        device = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
    Apply(*device, mode);
    return device;
}

bool CQtPrinterBackend::GetCaps(const std::string& printer, const CDevMode& mode, PrinterCaps& caps) {
    std::unique_ptr<QPrinter> device = CreatePrinter(printer, mode);
    if (!device)
        return false;
    const int dpi = device->resolution();
    const QPageLayout layout = device->pageLayout();
    const QRect paint = layout.paintRectPixels(dpi);
    const QRect full = layout.fullRectPixels(dpi);
    caps.horzRes = paint.width();
    caps.vertRes = paint.height();
    caps.physWidth = full.width();
    caps.physHeight = full.height();
    caps.dpiX = device->logicalDpiX();
    caps.dpiY = device->logicalDpiY();
    caps.bitsPixel = device->colorMode() == QPrinter::Color ? 24 : 1;
    caps.planes = 1;
    return true;
}

int CQtPrinterBackend::EditDevMode(const std::string& printer, const CDevMode* in, CDevMode& out) {
    CDevMode start;
    if (in)
        start = *in;
    else if (!DefaultDevMode(printer, start))
        return PrintSetup::kDialogFailed;
    if (!IsPdf(printer) && QPrinterInfo::printerInfo(QString::fromStdString(printer)).isNull())
        return PrintSetup::kDialogFailed;
    out = start;
    return RunPropertiesDialog(printer, out) ? PrintSetup::kDialogOk : PrintSetup::kDialogCancel;
}

bool CQtPrinterBackend::RunPropertiesDialog(const std::string& printer, CDevMode& mode) {
    // What the printer offers; the PDF file takes every paper and resolution.
    const bool pdf = IsPdf(printer);
    const QPrinterInfo info = pdf ? QPrinterInfo() : QPrinterInfo::printerInfo(QString::fromStdString(printer));
    QList<QPageSize> papers;
    QList<int> resolutions;
    bool duplex = false, colour = true;
    if (pdf) {
        for (const PaperPair& p : kPapers)
            papers.push_back(QPageSize(p.qt));
        resolutions = {300, 600, 1200};
    } else {
        papers = info.supportedPageSizes();
        resolutions = info.supportedResolutions();
        duplex = info.supportedDuplexModes().size() > 1;
        colour = info.supportedColorModes().contains(QPrinter::Color);
    }
    const QPageSize current = QtPageSize(mode);
    if (!std::any_of(papers.begin(), papers.end(), [&](const QPageSize& p) { return p.isEquivalentTo(current); }))
        papers.push_back(current);
    if (mode.PrintQuality() > 0 && !resolutions.contains(mode.PrintQuality()))
        resolutions.push_back(mode.PrintQuality());
    std::sort(resolutions.begin(), resolutions.end());

    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(QStringLiteral("PrinterProperties"));
    dialog.setWindowTitle(QStringLiteral("%1 Properties").arg(QString::fromStdString(printer)));
    auto* form = new QFormLayout;
    const auto combo = [&dialog](const char* name) {
        auto* box = new QComboBox(&dialog);
        box->setObjectName(QString::fromLatin1(name));
        return box;
    };
    QComboBox* paper = combo("paper");
    for (const QPageSize& p : papers) {
        paper->addItem(p.name(), QVariant::fromValue(p));
        if (p.isEquivalentTo(current))
            paper->setCurrentIndex(paper->count() - 1);
    }
    QComboBox* orientation = combo("orientation");
    orientation->addItem(QStringLiteral("Portrait"), int(CDevMode::kPortrait));
    orientation->addItem(QStringLiteral("Landscape"), int(CDevMode::kLandscape));
    orientation->setCurrentIndex(mode.Orientation() == CDevMode::kLandscape ? 1 : 0);
    QComboBox* colourBox = combo("colour");
    colourBox->addItem(QStringLiteral("Colour"), int(CDevMode::kColor));
    colourBox->addItem(QStringLiteral("Greyscale"), int(CDevMode::kMonochrome));
    colourBox->setCurrentIndex(mode.Color() == CDevMode::kMonochrome || !colour ? 1 : 0);
    colourBox->setEnabled(colour);
    QComboBox* duplexBox = combo("duplex");
    duplexBox->addItem(QStringLiteral("One-sided"), 1);
    duplexBox->addItem(QStringLiteral("Two-sided, long edge"), 2);
    duplexBox->addItem(QStringLiteral("Two-sided, short edge"), 3);
    duplexBox->setCurrentIndex(duplex ? std::clamp<int>(mode.Duplex(), 1, 3) - 1 : 0);
    duplexBox->setEnabled(duplex);
    QComboBox* quality = combo("quality");
    for (int dpi : resolutions) {
        quality->addItem(QStringLiteral("%1 dpi").arg(dpi), dpi);
        if (dpi == mode.PrintQuality())
            quality->setCurrentIndex(quality->count() - 1);
    }
    quality->setEnabled(quality->count() > 1);
    auto* copies = new QSpinBox(&dialog);
    copies->setObjectName(QStringLiteral("copies"));
    copies->setRange(1, 999);
    copies->setValue(std::max<int>(1, mode.Copies()));
    form->addRow(QStringLiteral("&Paper:"), paper);
    form->addRow(QStringLiteral("&Orientation:"), orientation);
    form->addRow(QStringLiteral("&Colour:"), colourBox);
    form->addRow(QStringLiteral("&Duplex:"), duplexBox);
    form->addRow(QStringLiteral("&Quality:"), quality);
    form->addRow(QStringLiteral("Co&pies:"), copies);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (onPropertiesShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] { onPropertiesShown(&dialog); });
    if (dialog.exec() != QDialog::Accepted)
        return false;

    const QPageSize chosen = paper->currentData().value<QPageSize>();
    mode.SetPaperSize(PaperNumber(chosen));
    const QSizeF mm = chosen.size(QPageSize::Millimeter);
    mode.SetPaperWidth(static_cast<std::int16_t>(mm.width() * 10 + 0.5));
    mode.SetPaperLength(static_cast<std::int16_t>(mm.height() * 10 + 0.5));
    mode.SetOrientation(static_cast<std::int16_t>(orientation->currentData().toInt()));
    mode.SetColor(static_cast<std::int16_t>(colourBox->currentData().toInt()));
    mode.SetDuplex(static_cast<std::int16_t>(duplexBox->currentData().toInt()));
    if (quality->count() > 0)
        mode.SetPrintQuality(static_cast<std::int16_t>(quality->currentData().toInt()));
    mode.SetCopies(static_cast<std::int16_t>(copies->value()));
    return true;
}

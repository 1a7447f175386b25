#include "QtPrinterBackend.h"

#include <QApplication>
#include <QPageSetupDialog>
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
    return !m_pdfOutput.isEmpty() && printer == kPdfPrinter;
}

std::vector<std::string> CQtPrinterBackend::PrinterNames() {
    std::vector<std::string> names;
    for (const QString& name : QPrinterInfo::availablePrinterNames())
        names.push_back(name.toStdString());
    if (!m_pdfOutput.isEmpty())
        names.push_back(kPdfPrinter);
    return names;
}

std::string CQtPrinterBackend::DefaultPrinterName() {
    const QString name = QPrinterInfo::defaultPrinterName();
    if (name.isEmpty() && !m_pdfOutput.isEmpty())
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
        device->setOutputFileName(m_pdfOutput);
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
    std::unique_ptr<QPrinter> device = CreatePrinter(printer, start);
    if (!device)
        return PrintSetup::kDialogFailed;
    QPageSetupDialog dialog(device.get(), QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return PrintSetup::kDialogCancel;
    out = start;
    Record(*device, out);
    return PrintSetup::kDialogOk;
}

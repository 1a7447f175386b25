#pragma once
// The system's printers through Qt PrintSupport (CUPS underneath): names and
// the default from QPrinterInfo, the page and resolution from a QPrinter set
// up from the stored record, and the page setup dialog as the printer's
// properties. Printing makes its QPrinter here too. Where PDF output is asked
// for (tests, or a machine without printers) a printer named kPdfPrinter
// writes that file.

#include <QString>
#include <memory>

#include "CPrinting.h"

class QPrinter;

class CQtPrinterBackend : public PrintSetup::IPrinterBackend {
public:
    static constexpr const char* kPdfPrinter = "PDF file";

    // Every printer made from now on writes this PDF file; the list then also
    // holds kPdfPrinter. Empty: the system's printers only.
    void SetPdfOutput(const QString& path) { m_pdfOutput = path; }
    const QString& PdfOutput() const { return m_pdfOutput; }

    std::vector<std::string> PrinterNames() override;
    std::string DefaultPrinterName() override;
    bool DefaultDevMode(const std::string& printer, PrintSetup::CDevMode& mode) override;
    bool GetCaps(const std::string& printer, const PrintSetup::CDevMode& mode, PrinterCaps& caps) override;
    int EditDevMode(const std::string& printer, const PrintSetup::CDevMode* in,
                    PrintSetup::CDevMode& out) override;

    // A printer for the named device with the record's settings, or null
    // when the device is not there.
    std::unique_ptr<QPrinter> CreatePrinter(const std::string& printer, const PrintSetup::CDevMode& mode);

private:
    bool IsPdf(const std::string& printer) const;
    QString m_pdfOutput;
};

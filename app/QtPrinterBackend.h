#pragma once
// The system's printers through Qt PrintSupport (CUPS underneath): names and
// the default from QPrinterInfo, the page and resolution from a QPrinter set
// up from the stored record, and the printer's properties dialog over what
// the record keeps. Printing makes its QPrinter here too. Beside the installed
// printers, as the desktop's print dialogs have it, stands kPdfPrinter, which
// writes a PDF file the user names; it is the default where none is installed.

#include <QString>
#include <functional>
#include <memory>

#include "CPrinting.h"

class QPrinter;
class QWidget;

class CQtPrinterBackend : public PrintSetup::IPrinterBackend {
public:
    static constexpr const char* kPdfPrinter = "PDF file";

    // The file name the PDF printer offers first (the last one printed to,
    // else "Horizel.pdf" in the home folder).
    void SetPdfOutput(const QString& path) { m_pdfOutput = path; }
    QString PdfOutput() const;
    void RememberPdfFileName(const QString& path) { m_pdfOutput = path; }
    // Asks for the PDF file to write, starting at PdfOutput(); "" on Cancel.
    QString AskPdfFileName(QWidget* parent) const;

    std::vector<std::string> PrinterNames() override;
    std::string DefaultPrinterName() override;
    bool DefaultDevMode(const std::string& printer, PrintSetup::CDevMode& mode) override;
    bool GetCaps(const std::string& printer, const PrintSetup::CDevMode& mode, PrinterCaps& caps) override;
    int EditDevMode(const std::string& printer, const PrintSetup::CDevMode* in,
                    PrintSetup::CDevMode& out) override;

    // A printer for the named device with the record's settings, or null
    // when the device is not there.
    std::unique_ptr<QPrinter> CreatePrinter(const std::string& printer, const PrintSetup::CDevMode& mode);

    // The properties dialog, handed over before it runs (tests drive it).
    std::function<void(QWidget*)> onPropertiesShown;

private:
    bool IsPdf(const std::string& printer) const;
    // Paper, orientation, colour, duplex, quality and copies of the record,
    // as far as the printer offers them; false on Cancel.
    bool RunPropertiesDialog(const std::string& printer, PrintSetup::CDevMode& mode);
    QString m_pdfOutput;
};

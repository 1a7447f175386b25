#pragma once
// The application's printer state for the whole run: the selected printer,
// one stored device record per printer, the print layout and the page range,
// reached by the print setup page, the export page and the view through
// IPrintPnrm; and the printer settings' loading at start-up and saving at
// exit (PRINT/DEFAULT and the printer settings file).

#include <functional>
#include <memory>
#include <string>

#include "CDevMode.h"
#include "CPrinting.h"
#include "PrintLayout.h"

namespace PrintSetup {

// What printing needs of the document.
class IPrintDocument {
public:
    virtual ~IPrintDocument() = default;
    // The pages the layout's manual size needs (at least 1); fills the
    // record's image size and a default manual size.
    virtual int GetPrintPageCount(const PrinterCaps& caps, PrintLayout* layout) = 0;
    // Non-zero when pages run side by side (the result is wider than high).
    virtual int IsResultWide() = 0;
};

class IPrintPnrm {
public:
    virtual ~IPrintPnrm() = default;
    virtual void SetPrinterName(const std::string& name) = 0;
    virtual std::string GetPrinterName() = 0;
    // The stored record of the printer (the driver's default is stored on
    // first use); false and null when there is none. The owner keeps it.
    virtual bool GetDevMode(const std::string& printer, CDevMode** mode) = 0;
    virtual bool SetDevMode(const std::string& printer, const CDevMode* mode) = 0;
    // The selected printer's page with its stored record; false without one.
    virtual bool CreatePrinterDC(PrinterCaps* caps) = 0;
    virtual void GetPageRange(int* from, int* to) = 0;
    virtual void SetPageRange(int from, int to, bool keepTo) = 0;
    virtual bool IsPrinterAvailable() = 0;
    virtual void GetLayout(PrintLayout* layout) = 0;
    // 1 when the page range had to be reset.
    virtual int SetLayout(const PrintLayout* layout) = 0;
    virtual int GetPageCount(PrintLayout* layout) = 0;
    // The printable (or whole) page in the layout's unit and the printer's
    // resolution; false without a printer or with one that reports no dpi.
    virtual bool GetPaperSize(int* cx, int* cy, int* dpiX, int* dpiY, bool physical) = 0;
    virtual int IsResultWide() = 0;
};

class CPrinterServices : public IPrintPnrm {
public:
    explicit CPrinterServices(std::shared_ptr<IPrinterBackend> backend);

    void SetDocument(IPrintDocument* document) { m_document = document; }
    // Told when the page range was reset, so the export page shows it.
    std::function<void()> onPageRangeReset;
    // Told after the printer's properties changed, so the export page refreshes.
    std::function<void()> onPrinterSetupChanged;
    // The wait cursor around the document's page counting.
    std::function<void(bool)> waitCursor;

    void SetPrinterName(const std::string& name) override;
    std::string GetPrinterName() override { return m_strPrinterName; }
    bool GetDevMode(const std::string& printer, CDevMode** mode) override;
    bool SetDevMode(const std::string& printer, const CDevMode* mode) override;
    bool CreatePrinterDC(PrinterCaps* caps) override;
    void GetPageRange(int* from, int* to) override;
    void SetPageRange(int from, int to, bool keepTo) override;
    bool IsPrinterAvailable() override;
    void GetLayout(PrintLayout* layout) override { *layout = m_printLayout; }
    int SetLayout(const PrintLayout* layout) override;
    int GetPageCount(PrintLayout* layout) override;
    bool GetPaperSize(int* cx, int* cy, int* dpiX, int* dpiY, bool physical) override;
    int IsResultWide() override;

    // PRINT/DEFAULT, then the settings file; records of printers that are
    // gone or whose driver changed are dropped. A selected printer that is
    // gone gives way to the system's default, in landscape.
    void LoadPrinterSettings();
    void SavePrinterSettings();
    // "P&rint Setup...": the selected printer's properties dialog.
    void OnFilePrintSetup();
    // The options dialog's OK: the flags into the layout and the profile;
    // a change of units converts every length of the layout.
    void ApplyPrintOptions(int inchUnits, int printMarkers);

    CPrinting& Printing() { return m_printing; }
    IPrinterBackend* Backend() const { return m_printing.Backend(); }
    PrintLayout& Layout() { return m_printLayout; }
    const DevModeMap& DevModes() const { return m_mapDevModes; }

    std::string m_strPrinterName;
    std::string m_strPrintersFile;
    int m_nFromPage = 1, m_nToPage = 1;

private:
    int PageCountOfLayout();
    void ResetPageRange();

    CPrinting m_printing;
    IPrintDocument* m_document = nullptr;
    DevModeMap m_mapDevModes;
    PrintLayout m_printLayout;
};

}  // namespace PrintSetup

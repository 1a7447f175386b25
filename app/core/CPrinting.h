#pragma once
// The printers of the system and their device settings, as the program sees
// them: the installed printers, the default one, a printer's default and
// edited settings, the names of paper sizes, and whether a stored record
// still belongs to its printer's driver. The system's printing sits behind
// IPrinterBackend (the Qt one prints through CUPS; tests use a fake).

#include <memory>
#include <string>
#include <vector>

#include "CDevMode.h"
#include "PrintLayout.h"

namespace PrintSetup {

// Results of a printer's properties dialog.
inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;
inline constexpr int kDialogFailed = -1;

class IPrinterBackend {
public:
    virtual ~IPrinterBackend() = default;
    virtual std::vector<std::string> PrinterNames() = 0;
    // "" when the system has none.
    virtual std::string DefaultPrinterName() = 0;
    // The driver's own settings of an installed printer; false for none.
    virtual bool DefaultDevMode(const std::string& printer, CDevMode& mode) = 0;
    // What the printer prints on with these settings; false when it cannot
    // be opened.
    virtual bool GetCaps(const std::string& printer, const CDevMode& mode, PrinterCaps& caps) = 0;
    // The printer's properties dialog on `in` (or on its defaults): a result
    // above, with the edited settings in `out` on OK.
    virtual int EditDevMode(const std::string& printer, const CDevMode* in, CDevMode& out) = 0;
};

class IPrinting {
public:
    virtual ~IPrinting() = default;
    // Appends the names not yet in the list.
    virtual void EnumPrinters(std::vector<std::string>& names) = 0;
    virtual std::string GetDefaultPrinter() = 0;
    // A new record, or null when the printer cannot be opened.
    virtual std::unique_ptr<CDevMode> GetDefaultDevMode(const std::string& printer) = 0;
    virtual int EditDevMode(const std::string& printer, const CDevMode* in,
                            std::unique_ptr<CDevMode>* out) = 0;
};

class CPrinting : public IPrinting {
public:
    explicit CPrinting(std::shared_ptr<IPrinterBackend> backend) : m_backend(std::move(backend)) {}

    void EnumPrinters(std::vector<std::string>& names) override;
    std::string GetDefaultPrinter() override;
    std::unique_ptr<CDevMode> GetDefaultDevMode(const std::string& printer) override;
    int EditDevMode(const std::string& printer, const CDevMode* in, std::unique_ptr<CDevMode>* out) override;

    // A stored record still fits its printer when its device name and its
    // version and size words equal those of the driver's own record.
    bool IsDevModeCurrent(const std::string& printer, const CDevMode* mode);

    IPrinterBackend* Backend() const { return m_backend.get(); }

private:
    std::shared_ptr<IPrinterBackend> m_backend;
};

// The name of a paper size number (1 ... 68); "Custom" for any other.
std::string GetPaperName(std::int16_t paperSize);

// The export page's printer description: orientation, colour mode, paper and
// resolution; " Can't find printer!" without settings or a page.
std::string DescribePrinter(const CDevMode* mode, const PrinterCaps* caps);

}  // namespace PrintSetup

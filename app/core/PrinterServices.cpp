#include "PrinterServices.h"

#include <algorithm>

#include "AppSettings.h"
#include "Profile.h"

namespace PrintSetup {

CPrinterServices::CPrinterServices(std::shared_ptr<IPrinterBackend> backend)
    : m_printing(std::move(backend)) {}

int CPrinterServices::PageCountOfLayout() {
    return m_printLayout.scaleMode == 1 ? GetPageCount(&m_printLayout)
                                        : std::clamp(m_printLayout.pages, 1, PrintLayout::kMaxPages);
}

void CPrinterServices::ResetPageRange() {
    m_nFromPage = 1;
    m_nToPage = PageCountOfLayout();
}

void CPrinterServices::SetPrinterName(const std::string& name) {
    const bool changed = name != m_strPrinterName;
    m_strPrinterName = name;
    if (changed)
        ResetPageRange();
}

bool CPrinterServices::GetDevMode(const std::string& printer, CDevMode** mode) {
    *mode = nullptr;
    auto it = m_mapDevModes.find(printer);
    if (it == m_mapDevModes.end() || !it->second) {
        std::unique_ptr<CDevMode> fresh = m_printing.GetDefaultDevMode(printer);
        if (!fresh)
            return false;
        it = m_mapDevModes.insert_or_assign(printer, std::move(fresh)).first;
    }
    *mode = it->second.get();
    return true;
}

bool CPrinterServices::SetDevMode(const std::string& printer, const CDevMode* mode) {
    if (!mode)
        return false;
    auto& slot = m_mapDevModes[printer];
    if (slot)
        return slot->Assign(*mode);
    slot = std::make_unique<CDevMode>(*mode);
    return true;
}

bool CPrinterServices::CreatePrinterDC(PrinterCaps* caps) {
    CDevMode* mode = nullptr;
    if (!GetDevMode(m_strPrinterName, &mode) || !Backend())
        return false;
    return Backend()->GetCaps(m_strPrinterName, *mode, *caps);
}

void CPrinterServices::GetPageRange(int* from, int* to) {
    *from = m_nFromPage;
    *to = m_nToPage;
}

void CPrinterServices::SetPageRange(int from, int to, bool keepTo) {
    const int count = PageCountOfLayout();
    from = std::clamp(from, 1, count);
    to = std::clamp(to, 1, count);
    if (!keepTo) {
        m_nFromPage = from;
        m_nToPage = std::max(from, to);
    } else {
        m_nToPage = to;
        m_nFromPage = std::min(from, to);
    }
}

bool CPrinterServices::IsPrinterAvailable() {
    PrinterCaps caps;
    return CreatePrinterDC(&caps);
}

int CPrinterServices::SetLayout(const PrintLayout* layout) {
    const PrintLayout& n = *layout;
    const PrintLayout& o = m_printLayout;
    const bool changed = n.scaleMode != o.scaleMode || (n.scaleMode == 0 && n.pages != o.pages) ||
                         (n.scaleMode == 1 && (n.width != o.width || n.height != o.height));
    m_printLayout = n;
    m_printLayout.pages = std::clamp(m_printLayout.pages, 1, PrintLayout::kMaxPages);
    if (!changed)
        return 0;
    ResetPageRange();
    if (onPageRangeReset)
        onPageRangeReset();
    return 1;
}

int CPrinterServices::GetPageCount(PrintLayout* layout) {
    PrinterCaps caps;
    if (!m_document || !CreatePrinterDC(&caps))
        return 1;
    if (waitCursor)
        waitCursor(true);
    const int pages = m_document->GetPrintPageCount(caps, layout);
    if (waitCursor)
        waitCursor(false);
    return std::clamp(pages, 1, PrintLayout::kMaxPages);
}

bool CPrinterServices::GetPaperSize(int* cx, int* cy, int* dpiX, int* dpiY, bool physical) {
    PrinterCaps caps;
    if (!CreatePrinterDC(&caps))
        return false;
    *dpiX = caps.dpiX;
    *dpiY = caps.dpiY;
    return PrintMath::PaperSizeInUnits(physical ? caps.physWidth : caps.horzRes,
                                       physical ? caps.physHeight : caps.vertRes, caps.dpiX, caps.dpiY,
                                       m_printLayout.inchUnits != 0, cx, cy);
}

int CPrinterServices::IsResultWide() {
    return m_document ? m_document->IsResultWide() : 1;
}

void CPrinterServices::LoadPrinterSettings() {
    using ProfileKeys::kPrintDefault;
    m_strPrinterName =
        AppProfile::GetProfileString(kPrintDefault.section, kPrintDefault.key, kPrintDefault.defaultValue);
    std::vector<std::string> installed;
    m_printing.EnumPrinters(installed);
    const auto isInstalled = [&installed](const std::string& name) {
        return std::find(installed.begin(), installed.end(), name) != installed.end();
    };
    bool replaced = false;
    if (!isInstalled(m_strPrinterName)) {
        m_strPrinterName = m_printing.GetDefaultPrinter();
        replaced = true;
    }
    PrinterSettingsFile::Load(m_strPrintersFile, m_mapDevModes);
    for (auto it = m_mapDevModes.begin(); it != m_mapDevModes.end();) {
        if (isInstalled(it->first) && m_printing.IsDevModeCurrent(it->first, it->second.get()))
            ++it;
        else
            it = m_mapDevModes.erase(it);
    }
    CDevMode* mode = nullptr;
    if (replaced && !m_strPrinterName.empty() && GetDevMode(m_strPrinterName, &mode))
        mode->SetOrientation(CDevMode::kLandscape);
}

void CPrinterServices::SavePrinterSettings() {
    using ProfileKeys::kPrintDefault;
    AppProfile::WriteProfileString(kPrintDefault.section, kPrintDefault.key, m_strPrinterName);
    PrinterSettingsFile::Save(m_strPrintersFile, m_mapDevModes);
}

void CPrinterServices::OnFilePrintSetup() {
    CDevMode* mode = nullptr;
    GetDevMode(m_strPrinterName, &mode);
    std::unique_ptr<CDevMode> edited;
    const int result = m_printing.EditDevMode(m_strPrinterName, mode, &edited);
    if (result == kDialogOk && edited) {
        SetDevMode(m_strPrinterName, edited.get());
        ResetPageRange();
        if (onPrinterSetupChanged)
            onPrinterSetupChanged();
    } else if (result == kDialogFailed) {
        m_mapDevModes.erase(m_strPrinterName);
    }
}

}  // namespace PrintSetup

namespace PrintSetup {

void CPrinterServices::ApplyPrintOptions(int inchUnits, int printMarkers) {
    const bool unitsChange = (inchUnits != 0) != (m_printLayout.inchUnits != 0);
    m_printLayout.inchUnits = inchUnits != 0;
    m_printLayout.markers = printMarkers != 0;
    ProfileKeys::Write(ProfileKeys::kInchUnits, m_printLayout.inchUnits);
    ProfileKeys::Write(ProfileKeys::kPrintMarkers, m_printLayout.markers);
    if (unitsChange)
        PrintMath::ConvertUnits(&m_printLayout, m_printLayout.inchUnits != 0);
}

}  // namespace PrintSetup

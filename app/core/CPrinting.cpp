#include "CPrinting.h"

#include <algorithm>
#include <cstring>

#include "StringTable.h"

namespace PrintSetup {

void CPrinting::EnumPrinters(std::vector<std::string>& names) {
    if (!m_backend)
        return;
    for (std::string& name : m_backend->PrinterNames())
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
}

std::string CPrinting::GetDefaultPrinter() {
    return m_backend ? m_backend->DefaultPrinterName() : std::string();
}

std::unique_ptr<CDevMode> CPrinting::GetDefaultDevMode(const std::string& printer) {
    auto mode = std::make_unique<CDevMode>();
    if (!m_backend || !m_backend->DefaultDevMode(printer, *mode) || mode->IsEmpty())
        return nullptr;
    return mode;
}

int CPrinting::EditDevMode(const std::string& printer, const CDevMode* in, std::unique_ptr<CDevMode>* out) {
    if (!m_backend)
        return kDialogFailed;
    CDevMode probe;
    if (!m_backend->DefaultDevMode(printer, probe))
        return kDialogFailed;
    auto edited = std::make_unique<CDevMode>();
    int result = m_backend->EditDevMode(printer, in, *edited);
    // A dialog that neither accepted nor cancelled is asked once more.
    if (result != kDialogOk && result != kDialogCancel && result != kDialogFailed)
        result = m_backend->EditDevMode(printer, in, *edited);
    *out = std::move(edited);
    return result;
}

bool CPrinting::IsDevModeCurrent(const std::string& printer, const CDevMode* mode) {
    if (!m_backend || !mode)
        return false;
    CDevMode driver;
    if (!m_backend->DefaultDevMode(printer, driver))
        return false;
    const std::size_t n = CDevMode::kIdentityBytes;
    if (mode->Size() < n || driver.Size() < n)
        return false;
    return std::memcmp(mode->Bytes().data(), driver.Bytes().data(), n) == 0;
}

std::string GetPaperName(std::int16_t paperSize) {
    static const char* const kNames[] = {
        "Letter 8 1/2 x 11 in",
        "Letter Small 8 1/2 x 11 in",
        "Tabloid 11 x 17 in",
        "Ledger 17 x 11 in",
        "Legal 8 1/2 x 14 in",
        "Statement 5 1/2 x 8 1/2 in",
        "Executive 7 1/4 x 10 1/2 in",
        "A3 297 x 420 mm",
        "A4 210 x 297 mm",
        "A4 Small 210 x 297 mm",
        "A5 148 x 210 mm",
        "B4 (JIS) 250 x 354",
        "B5 (JIS) 182 x 257 mm",
        "Folio 8 1/2 x 13 in",
        "Quarto 215 x 275 mm",
        "10x14 in",
        "11x17 in",
        "Note 8 1/2 x 11 in",
        "Envelope #9 3 7/8 x 8 7/8",
        "Envelope #10 4 1/8 x 9 1/2",
        "Envelope #11 4 1/2 x 10 3/8",
        "Envelope #12 4 \u00be x 11",
        "Envelope #14 5 x 11 1/2",
        "C size sheet",
        "D size sheet",
        "E size sheet",
        "Envelope DL 110 x 220mm",
        "Envelope C5 162 x 229 mm",
        "Envelope C3  324 x 458 mm",
        "Envelope C4  229 x 324 mm",
        "Envelope C6  114 x 162 mm",
        "Envelope C65 114 x 229 mm",
        "Envelope B4  250 x 353 mm",
        "Envelope B5  176 x 250 mm",
        "Envelope B6  176 x 125 mm",
        "Envelope 110 x 230 mm",
        "Envelope Monarch 3.875 x 7.5 in",
        "6 3/4 Envelope 3 5/8 x 6 1/2 in",
        "US Std Fanfold 14 7/8 x 11 in",
        "German Std Fanfold 8 1/2 x 12 in",
        "German Legal Fanfold 8 1/2 x 13 in",
        "B4 (ISO) 250 x 353 mm",
        "Japanese Postcard 100 x 148 mm",
        "9 x 11 in",
        "10 x 11 in",
        "15 x 11 in",
        "Envelope Invite 220 x 220 mm",
        nullptr,  // 48 and 49 have no paper of their own
        nullptr,
        "Letter Extra 9 \u00bd x 12 in",
        "Legal Extra 9 \u00bd x 15 in",
        "Tabloid Extra 11.69 x 18 in",
        "A4 Extra 9.27 x 12.69 in",
        "Letter Transverse 8 \u00bd x 11 in",
        "A4 Transverse 210 x 297 mm",
        "Letter Extra Transverse 9\u00bd x 12 in",
        "SuperA/SuperA/A4 227 x 356 mm",
        "SuperB/SuperB/A3 305 x 487 mm",
        "Letter Plus 8.5 x 12.69 in",
        "A4 Plus 210 x 330 mm",
        "A5 Transverse 148 x 210 mm",
        "B5 (JIS) Transverse 182 x 257 mm",
        "A3 Extra 322 x 445 mm",
        "A5 Extra 174 x 235 mm",
        "B5 (ISO) Extra 201 x 276 mm",
        "A2 420 x 594 mm",
        "A3 Transverse 297 x 420 mm",
        "A3 Extra Transverse 322 x 445 mm",
    };
    static_assert(sizeof kNames / sizeof kNames[0] == 68);
    if (paperSize >= 1 && paperSize <= 68 && kNames[paperSize - 1])
        return kNames[paperSize - 1];
    return Res::LoadStr(229);
}

std::string DescribePrinter(const CDevMode* mode, const PrinterCaps* caps) {
    if (!mode || !caps)
        return Res::LoadStr(225);
    const std::string orientation = Res::LoadStr(mode->Orientation() == CDevMode::kPortrait ? 226 : 230);
    const bool color = mode->Color() == CDevMode::kColor && caps->bitsPixel * caps->planes >= 2;
    const std::string colorMode = Res::LoadStr(color ? 227 : 231);
    const std::string paper = GetPaperName(mode->PaperSize());
    // The table's text has its fields in a fixed order: three texts, two numbers.
    const std::string format = Res::LoadStr(228);
    const std::string values[] = {orientation, colorMode, paper, std::to_string(caps->dpiX),
                                  std::to_string(caps->dpiY)};
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd') &&
            next < 5) {
            out += values[next++];
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

}  // namespace PrintSetup

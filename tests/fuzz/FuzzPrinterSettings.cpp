// The printer settings file ("HRZLRPRINTERS.DAT"): what it reads is what it
// writes back, field for field.
#include "CDevMode.h"
#include "FuzzTarget.h"

using namespace PrintSetup;

namespace {

bool SameEntries(const DevModeMap& a, const DevModeMap& b) {
    if (a.size() != b.size())
        return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || !i->second || !j->second || !(*i->second == *j->second))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DevModeMap map;
    PrinterSettingsFile::Load(Fuzz::InputFile(data, size, ".DAT"), map);
    for (const auto& [name, mode] : map) {
        Fuzz::Expect(mode && name.size() <= PrinterSettingsFile::kMaxNameBytes &&
                     mode->Size() <= PrinterSettingsFile::kMaxDevModeBytes);
        (void)mode->DeviceName();
        (void)(mode->DriverVersion() + mode->Orientation() + mode->PaperSize() + mode->PaperLength() +
               mode->PaperWidth() + mode->Copies() + mode->PrintQuality() + mode->Color() + mode->Duplex());
    }
    DevModeMap again;
    Fuzz::Expect(PrinterSettingsFile::Read(PrinterSettingsFile::Write(map), again));
    Fuzz::Expect(SameEntries(map, again));
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    DevModeMap map;
    map["PDF"] = std::make_unique<CDevMode>(CDevMode::Make("PDF", 3));
    CDevMode office = CDevMode::Make("Office laser on the second floor, by the window", 0x0604);
    office.SetOrientation(CDevMode::kLandscape);
    office.SetPaperSize(9);
    office.SetCopies(2);
    std::vector<std::uint8_t> longer = office.Bytes();
    longer.resize(longer.size() + 300, 0xA5);  // a driver's private part
    map["Office"] = std::make_unique<CDevMode>(longer);
    return {{"two.DAT", PrinterSettingsFile::Write(map)}, {"none.DAT", PrinterSettingsFile::Write({})}};
}

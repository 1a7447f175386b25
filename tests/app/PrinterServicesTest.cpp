#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "CPrinting.h"
#include "FakePrinterBackend.h"
#include "PrinterServices.h"
#include "Profile.h"

using PrintSetup::CDevMode;
using PrintSetup::CPrinterServices;
using PrintSetup::DevModeMap;
namespace SettingsFile = PrintSetup::PrinterSettingsFile;

namespace {

// A document whose manual size needs a given number of pages.
struct FakePrintDocument : PrintSetup::IPrintDocument {
    int pages = 1;
    int wide = 1;
    int GetPrintPageCount(const PrinterCaps&, PrintLayout*) override { return pages; }
    int IsResultWide() override { return wide; }
};

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<FakePrinterBackend> backend = std::make_shared<FakePrinterBackend>();
    FakePrintDocument document;
    std::unique_ptr<CPrinterServices> services;

    Fixture() {
        AppProfile::SetPath(dir.path().toStdString() + "/OvHorizel.ini");
        backend->printers["Office"] = FakePrinter{};
        backend->printers["Photo"] = FakePrinter{};
        backend->defaultPrinter = "Office";
        Restart();
    }
    std::string File() const { return dir.path().toStdString() + "/cache/HRZLRPRINTERS.DAT"; }
    // A new run of the program on the same profile and settings file.
    void Restart() {
        services = std::make_unique<CPrinterServices>(backend);
        services->m_strPrintersFile = File();
        services->SetDocument(&document);
        services->LoadPrinterSettings();
    }
    CDevMode* Mode(const std::string& printer) {
        CDevMode* mode = nullptr;
        services->GetDevMode(printer, &mode);
        return mode;
    }
};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list)
        v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

}  // namespace

TEST(PrinterServices, PageRangeStaysWithinThePages) {
    Fixture f;
    PrintLayout layout;
    layout.pages = 3;
    EXPECT_EQ(f.services->SetLayout(&layout), 1);
    struct Case {
        int from, to;
        bool keepTo;
        int expectFrom, expectTo;
    } cases[] = {{5, 2, false, 3, 3},
                 {5, 2, true, 2, 2},
                 {0, 9, false, 1, 3},
                 {2, 1, true, 1, 1},
                 {-7, -7, false, 1, 1}};
    for (const Case& c : cases) {
        f.services->SetPageRange(c.from, c.to, c.keepTo);
        int from = 0, to = 0;
        f.services->GetPageRange(&from, &to);
        EXPECT_EQ(from, c.expectFrom) << c.from << "," << c.to << "," << c.keepTo;
        EXPECT_EQ(to, c.expectTo) << c.from << "," << c.to << "," << c.keepTo;
    }
}

TEST(PrinterServices, LayoutChangesResetTheRangeOnlyWhenThePagesMayChange) {
    Fixture f;
    int resets = 0;
    f.services->onPageRangeReset = [&resets] { ++resets; };
    PrintLayout layout;
    layout.pages = 4;
    EXPECT_EQ(f.services->SetLayout(&layout), 1);
    f.services->SetPageRange(2, 3, false);
    layout.leftMargin = 500;  // not a page-count field
    EXPECT_EQ(f.services->SetLayout(&layout), 0);
    int from = 0, to = 0;
    f.services->GetPageRange(&from, &to);
    EXPECT_EQ(from, 2);
    EXPECT_EQ(to, 3);
    // Manual mode takes its pages from the document.
    f.document.pages = 7;
    layout.scaleMode = 1;
    EXPECT_EQ(f.services->SetLayout(&layout), 1);
    f.services->GetPageRange(&from, &to);
    EXPECT_EQ(from, 1);
    EXPECT_EQ(to, 7);
    layout.pages = 9;  // ignored in manual mode
    EXPECT_EQ(f.services->SetLayout(&layout), 0);
    layout.width = 100;
    EXPECT_EQ(f.services->SetLayout(&layout), 1);
    EXPECT_EQ(resets, 3);
    // A huge count from the page is held.
    layout.scaleMode = 0;
    layout.pages = 1000000000;
    f.services->SetLayout(&layout);
    f.services->GetPageRange(&from, &to);
    EXPECT_EQ(to, PrintLayout::kMaxPages);
}

TEST(PrinterServices, PaperSizeFollowsTheUnitsAndRefusesNoResolution) {
    Fixture f;
    f.backend->printers["Office"].caps = PrinterCaps{4800, 3000, 5100, 3300, 600, 300, 24, 1};
    f.Mode("Office")->SetOrientation(CDevMode::kPortrait);
    int cx = 0, cy = 0, dx = 0, dy = 0;
    ASSERT_TRUE(f.services->GetPaperSize(&cx, &cy, &dx, &dy, false));
    EXPECT_EQ(cx, 8000);
    EXPECT_EQ(cy, 10000);
    EXPECT_EQ(dx, 600);
    EXPECT_EQ(dy, 300);
    f.services->Layout().inchUnits = 0;
    ASSERT_TRUE(f.services->GetPaperSize(&cx, &cy, &dx, &dy, false));
    EXPECT_EQ(cx, 2032);
    EXPECT_EQ(cy, 2540);
    ASSERT_TRUE(f.services->GetPaperSize(&cx, &cy, &dx, &dy, true));
    EXPECT_EQ(cx, 2159);
    f.backend->printers["Office"].caps.dpiX = 0;
    EXPECT_FALSE(f.services->GetPaperSize(&cx, &cy, &dx, &dy, false));
    // A printer that no longer opens is not available and counts one page.
    f.backend->printers["Office"].caps.dpiX = 600;
    f.document.pages = 5;
    PrintLayout layout;
    EXPECT_TRUE(f.services->IsPrinterAvailable());
    EXPECT_EQ(f.services->GetPageCount(&layout), 5);
    f.backend->printers["Office"].opens = false;
    EXPECT_FALSE(f.services->IsPrinterAvailable());
    EXPECT_EQ(f.services->GetPageCount(&layout), 1);
}

TEST(PrinterServices, SettingsComeBackAtTheNextStart) {
    Fixture f;
    // The first start took the system's default, in landscape.
    EXPECT_EQ(f.services->GetPrinterName(), "Office");
    ASSERT_TRUE(f.Mode("Office"));
    EXPECT_EQ(f.Mode("Office")->Orientation(), CDevMode::kLandscape);
    f.services->SetPrinterName("Photo");
    f.Mode("Photo")->SetCopies(3);
    f.services->SavePrinterSettings();
    f.Restart();
    EXPECT_EQ(f.services->GetPrinterName(), "Photo");
    EXPECT_EQ(f.services->DevModes().size(), 2u);
    EXPECT_EQ(f.Mode("Photo")->Copies(), 3);
    EXPECT_EQ(f.Mode("Photo")->Orientation(), CDevMode::kPortrait);

    // The selected printer is removed and another's driver is updated: their
    // records go, the default printer takes over in landscape, and the
    // records of the printers that stayed as they were are kept.
    f.backend->printers["Archive"] = FakePrinter{};
    f.services->SetPrinterName("Archive");
    f.Mode("Archive")->SetCopies(2);
    f.services->SavePrinterSettings();
    f.backend->printers.erase("Archive");
    f.backend->printers["Photo"].driverVersion = 2;
    f.Mode("Office")->SetCopies(4);
    f.Restart();
    EXPECT_EQ(f.services->GetPrinterName(), "Office");
    EXPECT_EQ(f.services->DevModes().count("Archive"), 0u);
    EXPECT_EQ(f.services->DevModes().count("Photo"), 0u);
    ASSERT_TRUE(f.Mode("Office"));
    EXPECT_EQ(f.Mode("Office")->Orientation(), CDevMode::kLandscape);
}

TEST(PrinterServices, NoPrinterInstalled) {
    Fixture f;
    f.backend->printers.clear();
    f.backend->defaultPrinter.clear();
    f.Restart();
    EXPECT_EQ(f.services->GetPrinterName(), "");
    EXPECT_FALSE(f.services->IsPrinterAvailable());
    int cx, cy, dx, dy;
    EXPECT_FALSE(f.services->GetPaperSize(&cx, &cy, &dx, &dy, false));
    f.services->OnFilePrintSetup();
    EXPECT_EQ(f.backend->dialogCalls, 0);
    f.services->SavePrinterSettings();
}

TEST(PrinterServices, PrintSetupCommand) {
    Fixture f;
    int refreshed = 0;
    f.services->onPrinterSetupChanged = [&refreshed] { ++refreshed; };
    f.Mode("Office")->SetOrientation(CDevMode::kPortrait);
    f.backend->dialogResult = PrintSetup::kDialogCancel;
    f.services->OnFilePrintSetup();
    EXPECT_EQ(f.Mode("Office")->Orientation(), CDevMode::kPortrait);
    f.backend->dialogResult = PrintSetup::kDialogOk;
    f.services->OnFilePrintSetup();
    EXPECT_EQ(f.Mode("Office")->Orientation(), CDevMode::kLandscape);
    EXPECT_EQ(refreshed, 1);
    f.backend->dialogResult = PrintSetup::kDialogFailed;
    f.services->OnFilePrintSetup();
    EXPECT_EQ(f.services->DevModes().count("Office"), 0u);
}

TEST(PrinterSettingsFile, OnePrinterInTheFrameworksBytes) {
    DevModeMap map;
    map["HP"] = std::make_unique<CDevMode>(Bytes({7, 8, 9}));
    const std::vector<std::uint8_t> bytes = SettingsFile::Write(map);
    const std::vector<std::uint8_t> expected =
        Bytes({1,   0,   2,   'H', 'P', 0xFF, 0xFF, 1, 0, 8, 0, 'C', 'D',
               'e', 'v', 'M', 'o', 'd', 'e',  3,    0, 0, 0, 7, 8,   9});
    EXPECT_EQ(bytes, expected);
    // A second record refers back to the class.
    map["Zeta"] = std::make_unique<CDevMode>(Bytes({1}));
    const std::vector<std::uint8_t> two = SettingsFile::Write(map);
    const std::vector<std::uint8_t> tail(two.begin() + expected.size(), two.end());
    EXPECT_EQ(tail, Bytes({4, 'Z', 'e', 't', 'a', 0x01, 0x80, 1, 0, 0, 0, 1}));
    DevModeMap back;
    ASSERT_TRUE(SettingsFile::Read(two, back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back["Zeta"]->Bytes(), Bytes({1}));
}

TEST(PrinterSettingsFile, DamagedFilesKeepWhatWasReadWhole) {
    DevModeMap good;
    good["A"] = std::make_unique<CDevMode>(Bytes({1, 2}));
    good["B"] = std::make_unique<CDevMode>(Bytes({3}));
    const std::vector<std::uint8_t> whole = SettingsFile::Write(good);
    const std::size_t firstEntry = 2 + 2 + 2 + 2 + 2 + 8 + 4 + 2;  // count .. "A" and its two bytes
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::size_t kept;
    };
    std::vector<Case> cases = {
        {"empty", {}, 0},
        {"cut inside the second entry", std::vector<std::uint8_t>(whole.begin(), whole.end() - 1), 1},
        {"cut inside the first record", std::vector<std::uint8_t>(whole.begin(), whole.begin() + 12), 0},
        {"a count far beyond the data", Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), 0},
        {"a record size far beyond the data",
         Bytes({1,   0,   1,   'A', 0xFF, 0xFF, 1,   0,    8,    0,    'C',
                'D', 'e', 'v', 'M', 'o',  'd',  'e', 0xFF, 0xFF, 0xFF, 0x7F}),
         0},
        {"another class", Bytes({1, 0, 1, 'A', 0xFF, 0xFF, 1, 0, 4, 0, 'C', 'O', 'b', 'j', 0, 0, 0, 0}), 0},
        {"a reference to an unknown class", Bytes({1, 0, 1, 'A', 0x05, 0x80, 0, 0, 0, 0}), 0},
    };
    // A name longer than any printer's, with its bytes all there.
    std::vector<std::uint8_t> longName = Bytes({1, 0, 0xFF, 0x00, 0x08});
    longName.insert(longName.end(), 0x800, 'x');
    cases.push_back({"a name longer than any printer's", longName, 0});
    // A record larger than any printer's, with its bytes all there.
    std::vector<std::uint8_t> bigRecord =
        Bytes({1,   0,   1,   'A', 0xFF, 0xFF, 1,   0,    8,    0,    'C',
               'D', 'e', 'v', 'M', 'o',  'd',  'e', 0x01, 0x00, 0x01, 0x00});
    bigRecord.insert(bigRecord.end(), 0x10001, 0);
    cases.push_back({"a record larger than any printer's", bigRecord, 0});
    // The second entry's class tag is damaged after a good first one.
    std::vector<std::uint8_t> badSecond = whole;
    badSecond[firstEntry + 2] = 0x07;
    cases.push_back({"a damaged tag after a good entry", badSecond, 1});
    for (const Case& c : cases) {
        DevModeMap map;
        EXPECT_FALSE(SettingsFile::Read(c.bytes, map)) << c.what;
        EXPECT_EQ(map.size(), c.kept) << c.what;
        if (c.kept == 1) {
            ASSERT_TRUE(map.count("A")) << c.what;
            EXPECT_EQ(map["A"]->Bytes(), Bytes({1, 2})) << c.what;
        }
    }
}

TEST(PrinterSettingsFile, OnlyARegularFileIsRead) {
    QTemporaryDir dir;
    const std::string fifo = dir.path().toStdString() + "/HRZLRPRINTERS.DAT";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    DevModeMap map;
    EXPECT_FALSE(SettingsFile::Load(fifo, map));  // returns at once, without a writer
    EXPECT_FALSE(SettingsFile::Load(dir.path().toStdString(), map));
    EXPECT_FALSE(SettingsFile::Load(dir.path().toStdString() + "/missing", map));
    EXPECT_TRUE(map.empty());
}

TEST(CPrinting, PaperNamesAndDriverChecks) {
    struct Case {
        int paper;
        const char* name;
    } cases[] = {{1, "Letter 8 1/2 x 11 in"},
                 {9, "A4 210 x 297 mm"},
                 {22, "Envelope #12 4 \u00be x 11"},
                 {29, "Envelope C3  324 x 458 mm"},
                 {68, "A3 Extra Transverse 322 x 445 mm"},
                 {0, "Custom"},
                 {48, "Custom"},
                 {49, "Custom"},
                 {69, "Custom"},
                 {-3, "Custom"}};
    for (const Case& c : cases)
        EXPECT_EQ(PrintSetup::GetPaperName(static_cast<std::int16_t>(c.paper)), c.name) << c.paper;

    auto backend = std::make_shared<FakePrinterBackend>();
    backend->printers["P"] = FakePrinter{};
    PrintSetup::CPrinting printing(backend);
    std::unique_ptr<CDevMode> stored = printing.GetDefaultDevMode("P");
    ASSERT_TRUE(stored);
    stored->SetCopies(5);  // the user's own settings do not matter
    EXPECT_TRUE(printing.IsDevModeCurrent("P", stored.get()));
    backend->printers["P"].driverVersion = 9;
    EXPECT_FALSE(printing.IsDevModeCurrent("P", stored.get()));
    const CDevMode shortRecord(Bytes({'P'}));
    EXPECT_FALSE(printing.IsDevModeCurrent("P", &shortRecord));
    EXPECT_FALSE(printing.IsDevModeCurrent("gone", stored.get()));
    EXPECT_FALSE(printing.GetDefaultDevMode("gone"));
    std::vector<std::string> names{"P"};
    backend->printers["Q"] = FakePrinter{};
    printing.EnumPrinters(names);
    EXPECT_EQ(names, (std::vector<std::string>{"P", "Q"}));
}

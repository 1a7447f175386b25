// The print controls as a user meets them, on a printer system in memory: the
// export page's printer list, description and page range, the print setup
// page's entries, and the options dialog.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "CDlgOptions.h"
#include "CDlgPrintSetup.h"
#include "CDlgSaving.h"
#include "CommandIds.h"
#include "FakePrinterBackend.h"
#include "PrinterServices.h"
#include "Profile.h"
#include "Screenshot.h"

using PrintSetup::CDevMode;

namespace {

struct FakeExport : IDialogCallback::IExportDialog {
    bool current = true;
    int GetExportState() override { return 0; }
    void ApplyExportChoice(int) override {}
    void Render() override {}
    void Export() override {}
    void SendToWeb() override {}
    bool CanRenderFullResult() override { return !current; }
    bool IsFullResultCurrent() override { return current; }
    void NotifyExportListener(bool) override {}
};

// A 4000 x 1000 result whose manual size needs pages in proportion.
struct FakePrintDocument : PrintSetup::IPrintDocument {
    int wide = 1;
    int GetPrintPageCount(const PrinterCaps& caps, PrintLayout* layout) override {
        return PrintMath::GetPrintPageCount(caps, layout, wide ? 4000 : 1000, wide ? 1000 : 4000, wide != 0);
    }
    int IsResultWide() override { return wide; }
};

struct Pages {
    QTemporaryDir dir;
    std::shared_ptr<FakePrinterBackend> backend = std::make_shared<FakePrinterBackend>();
    FakePrintDocument document;
    FakeExport exportState;
    std::unique_ptr<PrintSetup::CPrinterServices> services;
    std::unique_ptr<CDlgSaving> page;
    std::vector<int> commands;

    explicit Pages(bool printers = true) {
        AppProfile::SetPath(dir.path().toStdString() + "/OvHorizel.ini");
        if (printers) {
            backend->printers["Office"] = FakePrinter{};
            backend->printers["Photo"] = FakePrinter{};
            backend->printers["Photo"].caps.dpiX = backend->printers["Photo"].caps.dpiY = 1200;
            backend->defaultPrinter = "Office";
        }
        services = std::make_unique<PrintSetup::CPrinterServices>(backend);
        services->m_strPrintersFile = dir.path().toStdString() + "/HRZLRPRINTERS.DAT";
        services->SetDocument(&document);
        services->LoadPrinterSettings();
        CDevMode* mode = nullptr;
        if (services->GetDevMode("Office", &mode))
            mode->SetOrientation(CDevMode::kPortrait);
        page = std::make_unique<CDlgSaving>();
        page->SetExportInterface(&exportState);
        page->SetPrintInterface(services.get());
        page->SetPrinterLister(&services->Printing());
        services->onPageRangeReset = [this] { page->RefreshPageRange(); };
        page->onCommand = [this](int id) { commands.push_back(id); };
        page->show();
        QTest::qWait(10);
    }
    CDlgPrintSetup* Setup() const { return page->PrintSetupPage(); }
    QLineEdit* SetupEdit(int id) const { return Setup()->Edit(id); }
    // Types into an edit and leaves it, as a user does.
    static void Type(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QMetaObject::invokeMethod(edit, "editingFinished");
    }
    PrintLayout Layout() const {
        PrintLayout l;
        services->GetLayout(&l);
        return l;
    }
};

}  // namespace

TEST(PrintPages, ExportPagePrinterListDescriptionAndRange) {
    Pages p;
    ASSERT_EQ(p.page->PrinterCombo()->count(), 2);
    EXPECT_EQ(p.page->PrinterCombo()->currentText(), "Office");
    EXPECT_EQ(p.page->PrinterDescription()->text(),
              "Orientation: Portrait\nMode: Color\nPaper: A4 210 x 297 mm\nResolution: 600x600 DPI");
    EXPECT_TRUE(p.page->PrintButton()->isEnabled());
    // One page: both range edits are off.
    EXPECT_EQ(p.page->FromEdit()->text(), "1");
    EXPECT_FALSE(p.page->FromEdit()->isEnabled());
    EXPECT_FALSE(p.page->ToEdit()->isEnabled());

    // Printing over three pages opens the range.
    Pages::Type(p.SetupEdit(CDlgPrintSetup::kPages), "3");
    EXPECT_EQ(p.Layout().pages, 3);
    EXPECT_EQ(p.page->ToEdit()->text(), "3");
    EXPECT_TRUE(p.page->FromEdit()->isEnabled());
    // A "from" beyond "to" stores from = to; leaving shows the stored value.
    p.page->ToEdit()->setText("2");
    Pages::Type(p.page->FromEdit(), "5");
    int from = 0, to = 0;
    p.services->GetPageRange(&from, &to);
    EXPECT_EQ(from, 2);
    EXPECT_EQ(to, 2);
    EXPECT_EQ(p.page->FromEdit()->text(), "2");
    // A "to" below "from" stores to = from.
    Pages::Type(p.page->ToEdit(), "3");
    Pages::Type(p.page->FromEdit(), "3");
    Pages::Type(p.page->ToEdit(), "1");
    p.services->GetPageRange(&from, &to);
    EXPECT_EQ(from, 3);
    EXPECT_EQ(to, 3);

    // Another printer: its own description, and the range starts again.
    p.page->PrinterCombo()->setCurrentIndex(1);
    QMetaObject::invokeMethod(p.page->PrinterCombo(), "activated", Q_ARG(int, 1));
    EXPECT_EQ(p.services->GetPrinterName(), "Photo");
    EXPECT_TRUE(p.page->PrinterDescription()->text().endsWith("1200x1200 DPI"));
    p.services->GetPageRange(&from, &to);
    EXPECT_EQ(to, 3);

    QTest::mouseClick(p.page->PrintButton(), Qt::LeftButton);
    QTest::mouseClick(p.page->PrintPreviewButton(), Qt::LeftButton);
    EXPECT_EQ(p.commands, (std::vector<int>{CmdId::FilePrint, CmdId::FilePrintPreview}));
    SaveScreenshot(p.page.get(), "print_setup_page");

    // Without a rendered result nothing of printing is on.
    p.exportState.current = false;
    p.page->UpdateControls();
    EXPECT_FALSE(p.page->PrintButton()->isEnabled());
    EXPECT_FALSE(p.page->PrintPreviewButton()->isEnabled());
    EXPECT_FALSE(p.page->PrinterCombo()->isEnabled());
    EXPECT_FALSE(p.SetupEdit(CDlgPrintSetup::kOverlap)->isEnabled());

    // The printer vanishes during the session.
    p.exportState.current = true;
    p.backend->printers.erase("Photo");
    p.page->UpdateControls();
    EXPECT_EQ(p.page->PrinterDescription()->text(), " Can't find printer!");
    EXPECT_FALSE(p.page->PrintButton()->isEnabled());
}

TEST(PrintPages, NoPrinterInstalled) {
    Pages p(false);
    EXPECT_EQ(p.page->PrinterCombo()->count(), 0);
    EXPECT_FALSE(p.page->PrinterCombo()->isEnabled());
    EXPECT_FALSE(p.page->PrintButton()->isEnabled());
    EXPECT_EQ(p.page->PrinterDescription()->text(), " Can't find printer!");
    EXPECT_TRUE(p.SetupEdit(CDlgPrintSetup::kLeft)->text().isEmpty());
    SaveScreenshot(p.page.get(), "print_setup_page_no_printer");
}

TEST(PrintPages, SetupPageEntries) {
    Pages p;
    QLineEdit* pages = p.SetupEdit(CDlgPrintSetup::kPages);
    for (const char* text : {"0", "abc", "-4"}) {
        Pages::Type(pages, text);
        EXPECT_EQ(p.Layout().pages, 1) << text;
        EXPECT_EQ(pages->text(), "1 pages") << text;
    }
    Pages::Type(pages, "1000000000");
    EXPECT_EQ(p.Layout().pages, PrintLayout::kMaxPages);

    // Margins: negative or not a number is 0, too large leaves a unit.
    Pages::Type(p.SetupEdit(CDlgPrintSetup::kLeft), "-3");
    EXPECT_EQ(p.Layout().leftMargin, 0);
    EXPECT_EQ(p.SetupEdit(CDlgPrintSetup::kLeft)->text(), "0 in");
    Pages::Type(p.SetupEdit(CDlgPrintSetup::kLeft), "0.5");
    EXPECT_EQ(p.Layout().leftMargin, 500);
    EXPECT_EQ(p.SetupEdit(CDlgPrintSetup::kLeft)->text(), "0.5 in");

    // The overlap needs its box, and is held to half the printable width
    // (8 in less the half-inch margin).
    EXPECT_FALSE(p.SetupEdit(CDlgPrintSetup::kOverlap)->isEnabled());
    QTest::mouseClick(p.Setup()->findChild<QCheckBox*>("1023"), Qt::LeftButton);
    EXPECT_TRUE(p.Layout().overlapOn);
    Pages::Type(p.SetupEdit(CDlgPrintSetup::kOverlap), "99");
    EXPECT_EQ(p.Layout().overlap, 3750);
    EXPECT_EQ(p.SetupEdit(CDlgPrintSetup::kOverlap)->text(), "3.75 in");

    // Manual size: the width is cut to its maxima, the height follows.
    // On the button's circle: a click beyond its label does not count.
    QRadioButton* manualRadio = p.Setup()->findChild<QRadioButton*>("1017");
    QTest::mouseClick(manualRadio, Qt::LeftButton, {}, QPoint(6, manualRadio->height() / 2));
    EXPECT_EQ(p.Layout().scaleMode, 1);
    EXPECT_FALSE(pages->isEnabled());
    EXPECT_TRUE(p.SetupEdit(CDlgPrintSetup::kWidth)->isEnabled());
    // "3000" in is cut to 2000 in, then to the 78.74 in maximum, and with
    // the picture's proportion to what keeps the height on one 11 in sheet.
    Pages::Type(p.SetupEdit(CDlgPrintSetup::kWidth), "3000");
    EXPECT_EQ(p.Layout().width, 44000);
    EXPECT_EQ(p.Layout().height, 11000);
    EXPECT_EQ(p.SetupEdit(CDlgPrintSetup::kWidth)->text(), "44 in");
    EXPECT_EQ(p.SetupEdit(CDlgPrintSetup::kHeight)->text(), "11 in");
    EXPECT_TRUE(pages->text().endsWith(" pages"));
    PrintLayout copy = p.Layout();
    EXPECT_GT(p.services->GetPageCount(&copy), 1);
    // A height beyond the sheet is cut to it, the width follows the picture.
    Pages::Type(p.SetupEdit(CDlgPrintSetup::kHeight), "abc");
    EXPECT_EQ(p.Layout().height, 100);
    EXPECT_EQ(p.Layout().width, 400);

    // The result turns from wide to tall: the manual size starts again.
    p.document.wide = 0;
    p.page->UpdateControls();
    EXPECT_NE(p.Layout().width, 400);
    EXPECT_GT(p.Layout().height, p.Layout().width);
}

TEST(PrintPages, OptionsDialogChangesUnitsAndFlags) {
    Pages p;
    PrintLayout l = p.Layout();
    l.width = 8000;
    l.height = 2000;
    l.leftMargin = 1000;
    l.scaleMode = 1;
    p.services->SetLayout(&l);

    // Cancel changes nothing.
    {
        CDlgOptions dialog;
        dialog.m_bInchUnits = 1;
        dialog.m_bPrintMarkers = 1;
        QTimer::singleShot(0, &dialog, [&dialog] {
            dialog.Units()->setCurrentIndex(0);
            QMetaObject::invokeMethod(dialog.Units(), "activated", Q_ARG(int, 0));
            QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        });
        EXPECT_EQ(dialog.DoModal(), 2);
    }
    EXPECT_EQ(AppProfile::GetProfileInt("PRINT", "INCH_UNITS", -1), -1);

    CDlgOptions dialog;
    dialog.m_bInchUnits = p.Layout().inchUnits;
    dialog.m_bPrintMarkers = p.Layout().markers;
    dialog.m_bShowSavingOptions = 0;
    QTimer::singleShot(0, &dialog, [&dialog] {
        EXPECT_EQ(dialog.Units()->currentText(), "in");
        EXPECT_EQ(dialog.Units()->itemText(0), "cm");
        EXPECT_TRUE(dialog.PrintMarkers()->isChecked());
        EXPECT_EQ(dialog.PrintMarkers()->toolTip(),
                  "Print matching markers if print with overlap is selected.");
        EXPECT_EQ(dialog.OkButton()->toolTip(), "Accept and close.");
        SaveScreenshot(&dialog, "options_dialog");
        dialog.Units()->setCurrentIndex(0);
        QMetaObject::invokeMethod(dialog.Units(), "activated", Q_ARG(int, 0));
        QTest::mouseClick(dialog.PrintMarkers(), Qt::LeftButton);
        QTest::mouseClick(dialog.ShowOptions(), Qt::LeftButton);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(dialog.m_bInchUnits, 0);
    EXPECT_EQ(dialog.m_bPrintMarkers, 0);
    EXPECT_EQ(dialog.m_bShowSavingOptions, 1);
    EXPECT_EQ(CDlgOptions::GetTooltipStringId(1234), 0);
    p.services->ApplyPrintOptions(dialog.m_bInchUnits, dialog.m_bPrintMarkers);
    EXPECT_EQ(p.Layout().inchUnits, 0);
    EXPECT_EQ(p.Layout().markers, 0);
    EXPECT_EQ(p.Layout().width, 2032);
    EXPECT_EQ(p.Layout().height, 508);
    EXPECT_EQ(p.Layout().leftMargin, 254);
    EXPECT_EQ(AppProfile::GetProfileInt("PRINT", "INCH_UNITS", -1), 0);
    EXPECT_EQ(AppProfile::GetProfileInt("PRINT", "PRINT_MARKERS", -1), 0);
    p.services->ApplyPrintOptions(1, 0);
    EXPECT_EQ(p.Layout().leftMargin, 1000);
    p.page->UpdateControls();
    EXPECT_TRUE(p.SetupEdit(CDlgPrintSetup::kLeft)->text().endsWith(" in"));
}

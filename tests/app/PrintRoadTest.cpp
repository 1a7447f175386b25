// Printing as a user does it: the boat row stitched and rendered, printed over
// three pages with a 20 mm overlap to the "PDF file" printer, through the
// print dialog; the pages are rendered back with poppler's pdftoppm and the
// strips that neighbouring pages share must show the same picture. Also: the
// direct print asks only for the file, the printer's properties set what its
// record keeps, and a machine without printers prints to a PDF file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "CDlgPrintSetup.h"
#include "CDlgSaving.h"
#include "CommandIds.h"
#include "DlgStitching.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "Profile.h"
#include "QtPrinterBackend.h"
#include "SamplePhotos.h"
#include "Screenshot.h"
#include "StartedProgram.h"
#include "UiServices.h"
#include "ViewPrinting.h"
#include "WaitForJobs.h"

namespace {

// Mean difference of two equally sized areas of two pictures.
double StripDifference(const QImage& a, const QRect& ra, const QImage& b, const QRect& rb) {
    double sum = 0;
    int n = 0;
    for (int y = 0; y < ra.height(); ++y)
        for (int x = 0; x < ra.width(); ++x) {
            const QRgb p = a.pixel(ra.x() + x, ra.y() + y);
            const QRgb q = b.pixel(rb.x() + x, rb.y() + y);
            sum +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
            ++n;
        }
    return n ? sum / (3.0 * n) : 1e9;
}

}  // namespace

TEST(PrintRoad, WithoutAPrinterThePdfFilePrinterIsChosen) {
    if (!QPrinterInfo::availablePrinterNames().isEmpty())
        GTEST_SKIP() << "this machine has printers";
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    AppProfile::WriteProfileString("PRINT", "DEFAULT", "Gone since the last run");
    COvHorizelApp app;
    app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", {});
    CMainFrame& frame = *app.GetMainFrame();
    // Nothing to print yet; the printer's settings can be set.
    for (int id : {CmdId::FilePrint, CmdId::FilePrintPreview})
        EXPECT_FALSE(frame.Router().Update(id).enabled) << id;
    EXPECT_TRUE(frame.Router().Update(CmdId::FilePrintSetup).enabled);
    EXPECT_TRUE(frame.Router().Update(CmdId::AppOptions).enabled);
    for (int id : {CmdId::FilePrint, CmdId::FilePrintPreview})
        frame.Router().Execute(id);  // nothing to print, and nothing breaks
    EXPECT_EQ(app.Printers().GetPrinterName(), CQtPrinterBackend::kPdfPrinter);
    for (int id : {CmdId::FilePrintSetup, CmdId::FilePrint, CmdId::FilePrintPreview, CmdId::AppOptions})
        ASSERT_TRUE(frame.Action(id)) << id;
    EXPECT_EQ(frame.Action(CmdId::FilePrintSetup)->text(), "P&rint Setup...");
    EXPECT_EQ(frame.Action(CmdId::FilePrintPreview)->text(), "Print Pre&view");
    EXPECT_EQ(frame.Action(CmdId::AppOptions)->text(), "&Options...");
    app.ExitInstance();
}

TEST(PrintRoad, BoatRowOverThreePagesJoinsAtTheMarkers) {
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftoppm.isEmpty())
        GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    AppProfile::WriteProfileInt("STITCHING", "HorzVert", 1);
    AppProfile::WriteProfileInt("PRINT", "INCH_UNITS", 0);
    UiServices::SetMessageHandler([](QWidget*, const QString&, const QString&) {});
    const QString pdf = dir.path() + "/print.pdf";
    COvHorizelApp app;
    app.PrinterBackend()->SetPdfOutput(pdf);
    CMainFrame& frame = StartShown(app, SamplePhotos::BoatRow());
    if (QPrinterInfo::availablePrinterNames().isEmpty()) {
        EXPECT_EQ(app.Printers().GetPrinterName(), CQtPrinterBackend::kPdfPrinter);
    }
    app.Printers().SetPrinterName(CQtPrinterBackend::kPdfPrinter);

    CDlgStitching* stitch = frame.StitchBar()->StitchPage();
    stitch->Poll();
    QTest::mouseClick(stitch->StartButton(), Qt::LeftButton);
    WaitForJobs(frame.Document());
    frame.Router().Execute(CmdId::TaskExport);
    WaitForJobs(frame.Document());
    CDlgSaving* page = frame.SavePage();
    EXPECT_GE(page->PrinterCombo()->findText(CQtPrinterBackend::kPdfPrinter), 0);
    EXPECT_FALSE(page->PrintButton()->isEnabled());
    EXPECT_FALSE(frame.Router().Update(CmdId::FilePrint).enabled);
    QTest::mouseClick(page->StartButton(), Qt::LeftButton);
    WaitForJobs(frame.Document());
    COvHorizelDoc& doc = frame.Document();
    ASSERT_TRUE(doc.IsFullResultCurrent());
    EXPECT_EQ(doc.IsResultWide(), 1);
    EXPECT_TRUE(page->PrintButton()->isEnabled());
    EXPECT_TRUE(frame.Router().Update(CmdId::FilePrint).enabled);

    // "Print over 3 pages" typed: the size edits show what the fit prints at,
    // and a click on "Manual" starts from that size, on as many pages.
    auto* pagesEdit = page->findChild<QLineEdit*>(QString::number(CDlgPrintSetup::kPages));
    auto* widthEdit = page->findChild<QLineEdit*>(QString::number(CDlgPrintSetup::kWidth));
    auto* manual = page->findChild<QRadioButton*>(QString::number(CDlgPrintSetup::kManual));
    ASSERT_TRUE(pagesEdit && widthEdit && manual);
    EXPECT_FALSE(widthEdit->isEnabled());
    const double onePage = widthEdit->text().section(' ', 0, 0).toDouble();
    ASSERT_GT(onePage, 0) << widthEdit->text().toStdString();
    pagesEdit->selectAll();
    QTest::keyClicks(pagesEdit, "3");
    QTest::keyClick(pagesEdit, Qt::Key_Return);
    EXPECT_EQ(pagesEdit->text(), "3 pages");
    const QString threePages = widthEdit->text();
    EXPECT_NEAR(threePages.section(' ', 0, 0).toDouble(), 3 * onePage, 0.3 * onePage)
        << threePages.toStdString();
    QTest::mouseClick(manual, Qt::LeftButton, {}, QPoint(8, manual->height() / 2));
    PrintLayout layout0;
    app.Printers().GetLayout(&layout0);
    EXPECT_EQ(layout0.scaleMode, 1);
    EXPECT_TRUE(widthEdit->isEnabled());
    EXPECT_EQ(widthEdit->text(), threePages);
    EXPECT_EQ(pagesEdit->text(), "3 pages");
    SaveScreenshot(page, "export_page_manual_three_pages");
    auto* fit = page->findChild<QRadioButton*>(QString::number(CDlgPrintSetup::kFit));
    QTest::mouseClick(fit, Qt::LeftButton, {}, QPoint(8, fit->height() / 2));

    // Three pages, 20 mm of overlap, matching markers.
    PrintLayout layout;
    app.Printers().GetLayout(&layout);
    ASSERT_EQ(layout.inchUnits, 0);
    layout.pages = 3;
    layout.overlapOn = true;
    layout.overlap = 200;
    app.Printers().SetLayout(&layout);
    frame.RefreshExportPage();
    int from = 0, to = 0;
    app.Printers().GetPageRange(&from, &to);
    ASSERT_EQ(from, 1);
    ASSERT_EQ(to, 3);
    EXPECT_EQ(page->ToEdit()->text(), "3");

    // The preview of the same three pages.
    CViewPrinting* printing = frame.View()->Printing();
    ASSERT_TRUE(printing);
    int previewPages = 0;
    printing->onPreviewShown = [&previewPages](QWidget* preview) {
        QTest::qWait(300);
        if (auto* widget = preview->findChild<QPrintPreviewWidget*>())
            previewPages = widget->pageCount();
        SaveScreenshot(preview, "print_preview_three_pages");
        QMetaObject::invokeMethod(preview, "reject", Qt::QueuedConnection);
    };
    QTest::mouseClick(page->PrintPreviewButton(), Qt::LeftButton);
    EXPECT_EQ(previewPages, 3);
    EXPECT_FALSE(QFile::exists(pdf)) << "a preview prints nothing";

    // "P&rint" asks with the print dialog: the PDF file printer shows its file
    // and the range of the export page. Cancelled, nothing is printed.
    int dialogs = 0;
    bool acceptDialog = false;
    printing->onPrintDialogShown = [&](QWidget* dialog) {
        ++dialogs;
        auto* print = qobject_cast<QPrintDialog*>(dialog);
        EXPECT_TRUE(print);
        if (print) {
            EXPECT_EQ(print->minPage(), 1);
            EXPECT_EQ(print->maxPage(), 3);
            EXPECT_EQ(print->printer()->outputFileName(), pdf);
        }
        QTest::qWait(100);
        SaveScreenshot(dialog, "print_dialog_pdf_file");
        QMetaObject::invokeMethod(dialog, acceptDialog ? "accept" : "reject", Qt::QueuedConnection);
    };
    QTest::mouseClick(page->PrintButton(), Qt::LeftButton);
    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(QFile::exists(pdf));
    acceptDialog = true;
    QTest::mouseClick(page->PrintButton(), Qt::LeftButton);
    ASSERT_TRUE(QFile::exists(pdf));

    // The pages as poppler renders them, at 100 dpi.
    const int dpi = 100;
    EXPECT_EQ(dialogs, 2);
    QProcess render;
    render.start(pdftoppm, {"-r", QString::number(dpi), "-png", pdf, dir.path() + "/page"});
    ASSERT_TRUE(render.waitForFinished(60000));
    QStringList files = QDir(dir.path()).entryList({"page*.png"}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 3) << files.join(",").toStdString();
    QImage pages[3];
    for (int i = 0; i < 3; ++i)
        pages[i] = QImage(dir.path() + "/" + files[i]).convertToFormat(QImage::Format_RGB32);

    // Where the plan put each page's picture, in rendered pixels.
    PrintSetup::CDevMode* mode = nullptr;
    ASSERT_TRUE(app.Printers().GetDevMode(app.Printers().GetPrinterName(), &mode));
    std::unique_ptr<QPrinter> device =
        app.PrinterBackend()->CreatePrinter(app.Printers().GetPrinterName(), *mode);
    const PrinterCaps caps = CViewPrinting::CapsOf(*device, false);
    const QRectF paper = device->pageLayout().paintRectPixels(caps.dpiX);
    const double k = double(dpi) / caps.dpiX;
    PrintMath::PrintPagePlan plans[3];
    for (int p = 0; p < 3; ++p) {
        PanoramaLib::IPanoElement* picture = nullptr;
        plans[p] = doc.PrintPage(caps, p + 1, 3, &layout, &picture);
        ASSERT_TRUE(plans[p].draw) << p;
    }
    ASSERT_EQ(plans[0].markers.size(), 1u);
    const PrintMath::PrintMarker& red = plans[0].markers[0];
    const std::int64_t s = plans[0].target.right - red.ticks[0].left;
    EXPECT_NEAR(s * 25.4 / caps.dpiX, 10.0, 0.1) << "half the 20 mm overlap is shared on paper";
    for (int p = 0; p < 2; ++p) {
        const auto& a = plans[p].target;
        const auto& b = plans[p + 1].target;
        // The strip right of page p's red tick, and left of page p+1's black tick.
        const int width = int((s - 4) * k);
        const int height = int((std::min(a.bottom - a.top, b.bottom - b.top) - 8) * k);
        const QRect stripA(int((paper.left() + a.right - s + 2) * k), int((paper.top() + a.top + 4) * k),
                           width, height);
        const QRect stripB(int((paper.left() + b.left + 2) * k), int((paper.top() + b.top + 4) * k), width,
                           height);
        const double same = StripDifference(pages[p], stripA, pages[p + 1], stripB);
        EXPECT_LT(same, 8.0) << "pages " << p + 1 << " and " << p + 2 << " do not join";
        // A strip a few millimetres off differs clearly: the check can fail.
        const double shifted =
            StripDifference(pages[p], stripA.translated(-int(8 * dpi / 25.4), 0), pages[p + 1], stripB);
        EXPECT_GT(shifted, same * 2 + 4) << p;
    }
    SaveScreenshot(frame.SavePage(), "export_page_three_pages");

    // The direct print asks no print dialog, only for the PDF file's name.
    const QString direct = dir.path() + "/direct.pdf";
    bool fileAsked = false;
    QTimer::singleShot(50, [&] {
        auto* ask = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(ask);
        fileAsked = true;
        SaveScreenshot(ask, "print_pdf_file_name");
        ask->selectFile(direct);
        ask->findChild<QLineEdit*>("fileNameEdit")->setText(direct);
        QMetaObject::invokeMethod(ask, "accept", Qt::QueuedConnection);
    });
    frame.Router().Execute(CmdId::FilePrintDirect);
    EXPECT_TRUE(fileAsked);
    EXPECT_EQ(dialogs, 2);
    EXPECT_TRUE(QFile::exists(direct));
    app.ExitInstance();
}

// "P&rint Setup..." sets every field the stored record keeps, and the record
// is kept in the printer settings file for the next run.
TEST(PrintRoad, PrinterPropertiesSetWhatTheRecordKeeps) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    const QByteArray cacheBefore = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", dir.path().toLocal8Bit());
    const auto run = [&](const std::function<void(COvHorizelApp&)>& body) {
        COvHorizelApp app;
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", {});
        app.Printers().SetPrinterName(CQtPrinterBackend::kPdfPrinter);
        body(app);
        app.ExitInstance();
    };
    run([&](COvHorizelApp& app) {
        bool shown = false;
        app.PrinterBackend()->onPropertiesShown = [&](QWidget* dialog) {
            shown = true;
            const auto choose = [dialog](const char* name, int data) {
                auto* box = dialog->findChild<QComboBox*>(name);
                ASSERT_TRUE(box) << name;
                const int index = box->findData(data);
                ASSERT_GE(index, 0) << name;
                box->setCurrentIndex(index);
            };
            choose("orientation", PrintSetup::CDevMode::kLandscape);
            choose("colour", PrintSetup::CDevMode::kMonochrome);
            choose("quality", 600);
            auto* paper = dialog->findChild<QComboBox*>("paper");
            ASSERT_TRUE(paper);
            paper->setCurrentIndex(paper->findText(QPageSize(QPageSize::A3).name()));
            dialog->findChild<QSpinBox*>("copies")->setValue(2);
            QTest::qWait(50);
            SaveScreenshot(dialog, "printer_properties_pdf_file");
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        };
        app.GetMainFrame()->Router().Execute(CmdId::FilePrintSetup);
        EXPECT_TRUE(shown);
    });
    // A new run reads the record back from the printer settings file.
    run([&](COvHorizelApp& app) {
        PrintSetup::CDevMode* mode = nullptr;
        ASSERT_TRUE(app.Printers().GetDevMode(CQtPrinterBackend::kPdfPrinter, &mode));
        EXPECT_EQ(mode->Orientation(), PrintSetup::CDevMode::kLandscape);
        EXPECT_EQ(mode->Color(), PrintSetup::CDevMode::kMonochrome);
        EXPECT_EQ(mode->PrintQuality(), 600);
        EXPECT_EQ(mode->PaperSize(), 8);  // A3
        EXPECT_EQ(mode->Copies(), 2);
        std::unique_ptr<QPrinter> device =
            app.PrinterBackend()->CreatePrinter(app.Printers().GetPrinterName(), *mode);
        ASSERT_TRUE(device);
        EXPECT_EQ(device->resolution(), 600);
        EXPECT_EQ(device->colorMode(), QPrinter::GrayScale);
    });
    if (cacheBefore.isEmpty())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", cacheBefore);
}

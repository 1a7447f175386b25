// The main road as a user walks it: the program started with the six boat
// photos, "2. Stitch", Start Stitching, "3. Export", "&Start", then the
// panorama exported to each format and opened in that format's own library.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <fstream>

#include "CDlgOptions.h"
#include "CDlgProgressIndicator.h"
#include "CDlgSaving.h"
#include "CMySaveFileDlg.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "CustomTabCtrl.h"
#include "DlgStitching.h"
#include "FrameEngineCallbacks.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "Profile.h"
#include "SamplePhotos.h"
#include "Screenshot.h"
#include "StartedProgram.h"
#include "UiServices.h"
#include "WaitForJobs.h"

namespace {

// Top-down rows of blue, green, red.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};

Picture ReadPng(const std::string& path) {
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return p;
    image.format = PNG_FORMAT_BGR;
    p.bgr.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.bgr.data(), 0, nullptr))
        return {};
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    return p;
}

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

Picture ReadJpeg(const std::string& path) {
    Picture p;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return p;
    jpeg_decompress_struct cinfo{};
    JpegError error;
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1);
    };
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(file);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    p.width = static_cast<int>(cinfo.output_width);
    p.height = static_cast<int>(cinfo.output_height);
    p.bgr.resize(static_cast<std::size_t>(p.width) * p.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = p.bgr.data() + static_cast<std::size_t>(cinfo.output_scanline) * p.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return p;
}

Picture ReadTiff(const std::string& path) {
    Picture p;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        return p;
    std::uint32_t w = 0, h = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> rgba(static_cast<std::size_t>(w) * h);
    if (TIFFReadRGBAImageOriented(tiff, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
        p.width = static_cast<int>(w);
        p.height = static_cast<int>(h);
        for (std::uint32_t v : rgba) {
            p.bgr.push_back(static_cast<std::uint8_t>(TIFFGetB(v)));
            p.bgr.push_back(static_cast<std::uint8_t>(TIFFGetG(v)));
            p.bgr.push_back(static_cast<std::uint8_t>(TIFFGetR(v)));
        }
    }
    TIFFClose(tiff);
    return p;
}

// Reads the file header and the 24-bit bottom-up rows itself.
Picture ReadBmp(const std::string& path) {
    Picture p;
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), {});
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M')
        return p;
    const auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, data.data() + at, 4);
        return v;
    };
    const std::uint32_t offset = u32(10);
    const auto width = static_cast<std::int32_t>(u32(18));
    const auto height = static_cast<std::int32_t>(u32(22));
    std::uint16_t bpp = 0;
    std::memcpy(&bpp, data.data() + 28, 2);
    if (bpp != 24 || width <= 0 || height == 0)
        return p;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    const int rows = std::abs(height);
    if (offset + stride * rows > data.size())
        return p;
    p.width = width;
    p.height = rows;
    for (int y = 0; y < rows; ++y) {
        const int line = height > 0 ? rows - 1 - y : y;
        const char* row = data.data() + offset + stride * line;
        p.bgr.insert(p.bgr.end(), row, row + width * 3);
    }
    return p;
}

// The document's full-size result as top-down blue, green, red rows.
Picture FromElement(PanoramaLib::IPanoElement* element) {
    Picture p;
    p.width = element->GetWidth();
    p.height = element->GetHeight();
    for (int y = 0; y < p.height; ++y) {
        const std::uint8_t* row =
            element->GetBits() + static_cast<std::ptrdiff_t>(p.height - 1 - y) * element->GetStride();
        p.bgr.insert(p.bgr.end(), row, row + p.width * 3);
    }
    return p;
}

// The first value of a JPEG file's luminance quantisation table: 3 at
// quality 90, 40 at quality 20 (libjpeg's scaling of the standard table).
int JpegLuminanceQuant(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    const int value = info.quant_tbl_ptrs[0] ? info.quant_tbl_ptrs[0]->quantval[0] : -1;
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return value;
}

double MeanDifference(const Picture& a, const Picture& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.bgr.size(); ++i)
        sum += std::abs(int(a.bgr[i]) - int(b.bgr[i]));
    return sum / static_cast<double>(a.bgr.size());
}

}  // namespace

TEST(ExportRoad, StitchRenderAndExportTheBoatRowToEveryFormat) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    AppProfile::WriteProfileInt("STITCHING", "HorzVert", 1);
    // The JPEG quality chosen below is the user's setting: kept in the run's folder.
    const QByteArray configBefore = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    QStringList messages;
    UiServices::SetMessageHandler([&](QWidget*, const QString& t, const QString&) { messages << t; });
    const std::vector<std::string> photos = SamplePhotos::BoatRow();
    COvHorizelApp app;
    CMainFrame& frame = StartShown(app, photos);

    // The save dialog is answered as a user would: a name typed, Save pressed.
    QString answerName;
    bool dialogShot = false;
    int optionsAsked = 0, jpegAsked = 0;
    const int lowQuality = 20;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<CMySaveFileDlg*>(modal)) {
            if (!dialogShot) {
                dialogShot = true;
                QTest::qWait(300);
                SaveScreenshot(dialog, "export_save_dialog");
            }
            // As typed: the folder's listing must not keep an older selection.
            dialog->selectFile(answerName);
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(answerName);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else if (auto* options = qobject_cast<CDlgOptions*>(modal)) {
            ++optionsAsked;
            auto* show = options->findChild<QCheckBox*>(QString::number(CDlgOptions::kShowOptions));
            ASSERT_TRUE(show);
            if (!show->isChecked())
                QTest::mouseClick(show, Qt::LeftButton, {}, QPoint(8, show->height() / 2));
            SaveScreenshot(options, "options_show_saving_options");
            QTest::mouseClick(options->findChild<QPushButton*>(QString::number(CDlgOptions::kOk)),
                              Qt::LeftButton);
        } else if (modal && modal->objectName() == "JpegOptions") {
            if (jpegAsked++ == 0) {
                QTest::qWait(100);
                SaveScreenshot(modal, "jpeg_options");
            }
            modal->findChild<QSpinBox*>("quality")->setValue(lowQuality);
            QMetaObject::invokeMethod(modal, "accept", Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages << box->text();
            if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click();
            else
                box->accept();
        }
    });
    watcher.start(5);

    ASSERT_EQ(frame.GetTask(), 2);
    CDlgStitching* stitch = frame.StitchBar()->StitchPage();
    stitch->Poll();
    ASSERT_TRUE(stitch->StartButton()->isEnabled());
    QTest::mouseClick(stitch->StartButton(), Qt::LeftButton);
    WaitForJobs(frame.Document());
    QTest::qWait(20);
    COvHorizelDoc& doc = frame.Document();
    ASSERT_NE(doc.GetDisplayResult(), nullptr);

    frame.Router().Execute(CmdId::TaskExport);
    WaitForJobs(frame.Document());
    ASSERT_EQ(frame.GetTask(), 3);
    CDlgSaving* page = frame.SavePage();
    ASSERT_TRUE(page->isVisible());
    frame.RefreshExportPage();
    EXPECT_TRUE(page->StartButton()->isEnabled());
    EXPECT_FALSE(page->ExportButton()->isEnabled());
    EXPECT_FALSE(frame.Router().Update(CmdId::FileSaveAs).enabled);
    EXPECT_EQ(page->AspectCombo()->itemText(0), "No crop");
    QTest::qWait(50);
    SaveScreenshot(&frame, "export_page_before_render");

    QTest::mouseClick(page->StartButton(), Qt::LeftButton);
    WaitForJobs(frame.Document());
    QTest::qWait(50);
    ASSERT_TRUE(doc.IsFullResultCurrent());
    EXPECT_TRUE(page->ExportButton()->isEnabled());
    EXPECT_FALSE(page->StartButton()->isEnabled());
    EXPECT_TRUE(frame.Router().Update(CmdId::FileSave).enabled);
    SaveScreenshot(&frame, "export_page_after_render");
    PanoramaLib::IPanoElement* full = doc.GetPlanarEngine()->GetFullResult();
    ASSERT_TRUE(full && full->IsValid());
    ASSERT_EQ(full->GetBpp(), 24);
    const Picture expected = FromElement(full);
    EXPECT_GT(expected.width, 2 * expected.height) << "a row of six photos is wide";

    struct Format {
        const char* name;
        Picture (*read)(const std::string&);
        double tolerance;
    };
    const Format formats[] = {{"pano.png", &ReadPng, 0.0},
                              {"pano.jpg", &ReadJpeg, 6.0},
                              {"pano.tif", &ReadTiff, 0.0},
                              {"pano.bmp", &ReadBmp, 0.0}};
    for (const Format& format : formats) {
        answerName = dir.path() + "/" + format.name;
        QTest::mouseClick(page->ExportButton(), Qt::LeftButton);
        WaitForJobs(doc);
        QTest::qWait(20);
        EXPECT_EQ(doc.GetPathName(), answerName.toStdString()) << format.name;
        EXPECT_FALSE(doc.IsModified()) << format.name;
        const Picture written = format.read(answerName.toStdString());
        ASSERT_EQ(written.width, expected.width) << format.name;
        ASSERT_EQ(written.height, expected.height) << format.name;
        EXPECT_LE(MeanDifference(written, expected), format.tolerance) << format.name;
    }
    EXPECT_EQ(jpegAsked, 0) << "saving options are off by default";

    // "&Show saving options" on: the JPEG export first shows the converter's
    // settings, and the file is written with the quality chosen there.
    frame.Router().Execute(CmdId::AppOptions);
    EXPECT_EQ(optionsAsked, 1);
    answerName = dir.path() + "/pano_low.jpg";
    QTest::mouseClick(page->ExportButton(), Qt::LeftButton);
    WaitForJobs(doc);
    QTest::qWait(20);
    EXPECT_EQ(jpegAsked, 1);
    EXPECT_EQ(JpegLuminanceQuant(dir.path().toStdString() + "/pano.jpg"), 3) << "quality 90";
    EXPECT_EQ(JpegLuminanceQuant(answerName.toStdString()), 40) << "quality 20";
    EXPECT_LT(QFileInfo(answerName).size() * 2, QFileInfo(dir.path() + "/pano.jpg").size());

    EXPECT_TRUE(dialogShot);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    // Saved: quitting asks nothing.
    EXPECT_TRUE(doc.SaveModified());
    watcher.stop();
    app.ExitInstance();
    UiServices::SetMessageHandler(nullptr);
    if (configBefore.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", configBefore);
}

// Every edit of the export page keeps its height and every control lies inside
// the page, before and after a print product is chosen ("Send to web..."
// shows, the product's name widens the combo): without a result, and after
// "3. Export" stitched two photos, when the printer's description came late.
TEST(ExportRoad, ProductChoiceKeepsEveryControlWhole) {
    for (const bool withPhotos : {false, true}) {
        SCOPED_TRACE(withPhotos ? "after the export task's stitch" : "without photos");
        QTemporaryDir dir;
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        const QByteArray dataBefore = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
        QDir(dir.path()).mkpath("ORVEXQXLOGS");
        {
            std::ofstream(dir.path().toStdString() + "/ORVEXQXLOGS/aspect.xml")
                << "<PRODUCT w=\"30\" h=\"10\" oms_id=\"5\" name=\"Panorama poster 30 x 10 cm\"/>\n";
        }
        QStringList messages;
        UiServices::SetMessageHandler([&](QWidget*, const QString& t, const QString&) { messages << t; });
        COvHorizelApp app;
        CMainFrame& frame =
            StartShown(app, withPhotos ? SamplePhotos::BoatRow(2) : std::vector<std::string>{});
        CCustomTabCtrl* tabs = frame.TaskBar()->Tabs();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(2).center());
        WaitForJobs(frame.Document());
        QTest::qWait(50);
        ASSERT_EQ(frame.GetTask(), 3);
        EXPECT_EQ(frame.Document().GetDisplayResult() != nullptr, withPhotos);
        CDlgSaving* page = frame.SavePage();
        const auto expectWhole = [&](const char* when) {
            SCOPED_TRACE(when);
            for (QLineEdit* edit : page->findChildren<QLineEdit*>())
                EXPECT_GE(edit->height(), edit->minimumSizeHint().height())
                    << edit->objectName().toStdString();
            for (QWidget* w : page->findChildren<QWidget*>()) {
                if (w->isVisible() && w->parentWidget() == page) {
                    EXPECT_TRUE(page->rect().contains(w->geometry())) << w->objectName().toStdString();
                }
            }
        };
        expectWhole("before a product is chosen");
        QComboBox* aspect = page->AspectCombo();
        ASSERT_EQ(aspect->count(), 3);
        aspect->setCurrentIndex(2);
        QTest::qWait(50);
        QWidget* send = page->findChild<QWidget*>(QString::number(CDlgSaving::kSendToWeb));
        ASSERT_TRUE(send);
        EXPECT_TRUE(send->isVisible());
        const QString shot =
            withPhotos ? "export_page_print_product_after_stitch" : "export_page_print_product";
        SaveScreenshot(&frame, shot);
        SaveScreenshot(page, shot + "_page");
        // The product's whole text fits its box.
        EXPECT_GE(aspect->width(), aspect->sizeHint().width()) << aspect->currentText().toStdString();
        expectWhole("with the product chosen");
        // Without photos the task says first that there are none to export.
        EXPECT_EQ(messages, withPhotos
                                ? QStringList{}
                                : QStringList{"Please select images to add to panorama project first!"});
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
        if (dataBefore.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", dataBefore);
    }
}

// A full-size save runs as a job: its progress window shows while the write
// works on, and Cancel pressed there ends it with the picture saved before
// untouched and no other file in its folder; the next save writes it.
TEST(ExportRoad, CancelledSaveKeepsTheFileSavedBefore) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    AppProfile::WriteProfileInt("STITCHING", "HorzVert", 1);
    QStringList messages;
    UiServices::SetMessageHandler([&](QWidget*, const QString& t, const QString&) { messages << t; });
    COvHorizelApp app;
    CMainFrame& frame = StartShown(app, SamplePhotos::BoatRow());
    COvHorizelDoc& doc = frame.Document();

    const QString folder = dir.path() + "/saved";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = folder + "/pano.png";
    const std::string original = "the picture saved before";
    std::ofstream(target.toStdString(), std::ios::binary) << original;
    const auto readTarget = [&] {
        std::ifstream in(target.toStdString(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<CMySaveFileDlg*>(modal)) {
            dialog->selectFile(target);
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(target);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            // Replacing the file saved before is asked inside the save dialog.
            if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click();
            else {
                messages << box->text();
                box->accept();
            }
        }
    });
    answerer.start(5);

    ASSERT_EQ(frame.GetTask(), 2);
    frame.Router().Execute(CmdId::TaskExport);
    WaitForJobs(doc);
    CDlgSaving* page = frame.SavePage();
    QTest::mouseClick(page->StartButton(), Qt::LeftButton);
    WaitForJobs(doc);
    ASSERT_TRUE(doc.IsFullResultCurrent());
    const Picture expected = FromElement(doc.GetPlanarEngine()->GetFullResult());

    // What the progress window shows while a save runs; with cancel, Cancel
    // is pressed as soon as it shows.
    CDlgProgressIndicator* progress = frame.Callbacks().ProgressWindow();
    bool saving = false, cancel = false;
    int shownWhileSaving = 0, paintedWhileSaving = 0;
    QString textWhileSaving;
    struct Watch : QObject {
        std::function<void(QEvent*)> seen;
        bool eventFilter(QObject*, QEvent* e) override {
            seen(e);
            return false;
        }
    } watch;
    watch.seen = [&](QEvent* e) {
        if (!saving)
            return;
        if (e->type() == QEvent::Show) {
            ++shownWhileSaving;
            if (cancel)
                QMetaObject::invokeMethod(
                    progress,
                    [&] {
                        SaveScreenshot(progress, "save_progress_window");
                        QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
                    },
                    Qt::QueuedConnection);
        } else if (e->type() == QEvent::Paint) {
            ++paintedWhileSaving;
            textWhileSaving = progress->TextControl()->text();
        }
    };
    progress->installEventFilter(&watch);
    QObject::connect(&doc.Jobs(), &CDocumentJobs::jobStarted,
                     [&](JobKind kind) { saving = kind == JobKind::Save; });
    QObject::connect(&doc.Jobs(), &CDocumentJobs::jobFinished, [&](JobKind) { saving = false; });

    struct Case {
        const char* name;
        bool cancel;
    };
    for (const Case c : {Case{"cancelled", true}, Case{"completed", false}}) {
        SCOPED_TRACE(c.name);
        cancel = c.cancel;
        shownWhileSaving = paintedWhileSaving = 0;
        doc.SetModifiedFlag(true);
        ASSERT_TRUE(page->ExportButton()->isEnabled());
        QTest::mouseClick(page->ExportButton(), Qt::LeftButton);
        ASSERT_TRUE(WaitForJobs(doc));
        QTest::qWait(20);
        EXPECT_FALSE(progress->isVisible());
        EXPECT_GE(shownWhileSaving, 1);
        EXPECT_GE(paintedWhileSaving, 1);
        EXPECT_EQ(textWhileSaving, "Writing file...");
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"pano.png"});
        if (c.cancel) {
            EXPECT_EQ(readTarget(), original);
            EXPECT_TRUE(doc.IsModified());
            EXPECT_TRUE(doc.GetPathName().empty());
        } else {
            const Picture written = ReadPng(target.toStdString());
            ASSERT_EQ(written.width, expected.width);
            ASSERT_EQ(written.height, expected.height);
            EXPECT_EQ(written.bgr, expected.bgr);
            EXPECT_FALSE(doc.IsModified());
            EXPECT_EQ(doc.GetPathName(), target.toStdString());
        }
    }
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    progress->removeEventFilter(&watch);
    answerer.stop();
    app.ExitInstance();
    UiServices::SetMessageHandler(nullptr);
}

// "Image Info" and "Select Image": the texts shown, which image is described,
// the number check, the details button, and the errors on the way.

#include <QLineEdit>

#include "DialogTestSupport.h"
#include "ImageInfo.h"
#include "ImageInfoDialog.h"

using namespace FormgateTest;
using formgate::CImageInfoDialog;
using formgate::CSelectImageDialog;

TEST(ImageInfoTexts, NumbersColoursAndResolutions) {
    EXPECT_EQ(formgate::GroupedNumber(0), "0");
    EXPECT_EQ(formgate::GroupedNumber(999), "999");
    EXPECT_EQ(formgate::GroupedNumber(1048576), "1,048,576");
    EXPECT_EQ(formgate::GroupedNumber(1000000), "1,000,000");

    struct Case {
        int bits;
        const char* colours;
    };
    const Case colours[] = {{1, "2"},
                            {4, "16"},
                            {8, "256"},
                            {16, "65,536"},
                            {20, "1,048,576"},
                            {24, "16,777,216"},
                            {32, "16,777,216"},
                            {48, "48 bits per pixel"},
                            {64, "48 bits per pixel"}};
    for (const Case& c : colours) {
        CONVIMAGEINFO info{};
        info.bitsPerPixel = static_cast<std::uint16_t>(c.bits);
        EXPECT_EQ(formgate::ImageInfoDialogTexts(info).colours, c.colours) << c.bits;
    }

    struct Unit {
        int unit;
        const char* text;
    };
    const Unit units[] = {{0, "<Unknown>"},           {1, "3 X 4"},
                          {2, "3 X 4 dot/inch"},      {3, "3 X 4 dot/cm"},
                          {4, "Screen 3 X 4 pixels"}, {9, "<Unknown>"}};
    for (const Unit& u : units) {
        CONVIMAGEINFO info{};
        info.resolutionUnit = static_cast<std::uint16_t>(u.unit);
        info.xResolution = 3;
        info.yResolution = 4;
        EXPECT_EQ(formgate::ImageInfoDialogTexts(info).resolution, u.text) << u.unit;
    }
}

TEST(ImageInfoTexts, ImageNumbersTheUserMayType) {
    EXPECT_EQ(formgate::ParseImageNumber("1", 5), 0);
    EXPECT_EQ(formgate::ParseImageNumber(" 5 ", 5), 4);
    for (const char* bad : {"0", "6", "abc", "", "-1", "2x", "99999"})
        EXPECT_EQ(formgate::ParseImageNumber(bad, 5), -1) << bad;
}

namespace {

class ImageInfoTest : public DialogTest {
protected:
    void SetUp() override { StartUi({"conv_m"}, "[conv_m.so]\nFlags=0x33\n"); }
    // Reads every field of the next "Image Info", then closes it.
    std::shared_ptr<std::map<int, QString>> ReadInfo(const QString& screenshot = {}, bool details = false) {
        auto fields = std::make_shared<std::map<int, QString>>();
        WhenShown<CImageInfoDialog>([fields, screenshot, details](CImageInfoDialog* dialog) {
            for (int id = 100; id <= 107; ++id)
                (*fields)[id] = LabelText(dialog, id);
            (*fields)[109] = dialog->findChild<QLabel*>("109")->isVisibleTo(dialog) ? "shown" : "hidden";
            (*fields)[116] = dialog->DetailsButton()->isEnabled() ? "enabled" : "disabled";
            if (!screenshot.isEmpty())
                SaveScreenshot(dialog, screenshot);
            if (details)
                dialog->DetailsButton()->click();
            dialog->accept();
        });
        return fields;
    }
};

}  // namespace

TEST_F(ImageInfoTest, ShowsTheImagesDescription) {
    const std::string file =
        File("photo.tcv", Tcv("width=1600\nheight=1200\nbits=24\nunit=2\nxres=300\nyres=300\n"
                              "format=TCV Test\n"));
    auto fields = ReadInfo("formgate_image_info");
    EXPECT_EQ(ImExp_ShowFileInfo(Window(), file.c_str(), -1), 1);
    EXPECT_EQ((*fields)[100], "photo.tcv");
    EXPECT_EQ((*fields)[101], "TCV Test");
    EXPECT_EQ((*fields)[102], "");
    EXPECT_EQ((*fields)[103], "1600 X 1200");
    EXPECT_EQ((*fields)[104], "RGB");
    EXPECT_EQ((*fields)[105], "16,777,216");
    EXPECT_EQ((*fields)[106], "300 X 300 dot/inch");
    EXPECT_EQ((*fields)[107], "Uncompressed");
    EXPECT_EQ((*fields)[109], "hidden");
    EXPECT_EQ((*fields)[116], "disabled");
    EXPECT_FALSE(AnyConverterMapped()) << "the converter is freed after the dialog";

    fields = ReadInfo({}, true);
    const std::string deep = File("deep.tcv", Tcv("bits=48\ncompression=Deflate\ndetails=1\n"));
    const std::u16string wide = formgate::Utf16FromUtf8(deep);
    EXPECT_EQ(ImExp_ShowFileInfoW(Window(), wide.c_str(), 0), 1);
    EXPECT_EQ((*fields)[105], "48 bits per pixel");
    EXPECT_EQ((*fields)[107], "Deflate");
    EXPECT_EQ((*fields)[116], "enabled");
    EXPECT_EQ(LogCountPrefix("conv_m.so RDShowDetails"), 1);
}

TEST_F(ImageInfoTest, AnImageNumberBeyondTheCountDescribesTheFirst) {
    const std::string file = File("two.tcv", Tcv("images=2\n"));
    auto fields = ReadInfo();
    EXPECT_EQ(ImExp_ShowFileInfo(Window(), file.c_str(), 5), 1);
    EXPECT_EQ((*fields)[102], "1 / 2");
    EXPECT_EQ((*fields)[109], "shown");
    EXPECT_EQ(LogCount("conv_m.so RDGetImageInfo image=0"), 1);
}

TEST_F(ImageInfoTest, SelectImageRefusesIllegalNumbersAndKeepsTheDialogOpen) {
    const std::string file = File("five.tcv", Tcv("images=5\n"));
    QStringList warnings;
    bool stayedOpen = true;
    QString count, title;
    WhenShown<CSelectImageDialog>([&](CSelectImageDialog* dialog) {
        count = LabelText(dialog, 109);
        title = LabelText(dialog, 100);
        EXPECT_EQ(dialog->NumberEdit()->text(), "1");
        EXPECT_EQ(dialog->NumberEdit()->maxLength(), 5);
        SaveScreenshot(dialog, "formgate_select_image");
        for (const char* bad : {"0", "abc", "6"}) {
            dialog->NumberEdit()->setText(bad);
            auto seen = AnswerMessage();
            dialog->accept();
            warnings << seen->text;
            stayedOpen = stayedOpen && dialog->isVisible();
        }
        dialog->NumberEdit()->setText("3");
        dialog->accept();
    });
    auto fields = ReadInfo();
    EXPECT_EQ(ImExp_ShowFileInfo(Window(), file.c_str(), -1), 1);
    EXPECT_EQ(warnings,
              QStringList({"Illegal number entered.", "Illegal number entered.", "Illegal number entered."}));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(count, "5");
    EXPECT_EQ(title, "five.tcv");
    EXPECT_EQ((*fields)[102], "3 / 5");
    EXPECT_EQ(LogCount("conv_m.so RDGetImageInfo image=2"), 1);

    // Cancel ends the operation quietly.
    WhenShown<CSelectImageDialog>([](CSelectImageDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(ImExp_ShowFileInfo(Window(), file.c_str(), -1), 0);
    EXPECT_EQ(formgate::LastReportedError(), 0);
}

TEST_F(ImageInfoTest, ErrorsOnTheWay) {
    struct Case {
        std::string file;
        const char* text;
        int code;
    };
    const Case cases[] = {
        {dir_ / "missing.tcv", "Cannot open file missing.tcv", 6},
        {File("plain.txt", "not an image"), "Unknown image file format plain.txt", 3},
        {File("none.tcv", Tcv("images=0\n")), "No images found in file none.tcv", 7},
    };
    for (const Case& c : cases) {
        formgate::ClearLastReportedError();
        auto seen = AnswerMessage();
        EXPECT_EQ(ImExp_ShowFileInfo(Window(), c.file.c_str(), 0), 0);
        EXPECT_EQ(seen->caption, "Converter Error");
        EXPECT_EQ(seen->text, c.text);
        EXPECT_EQ(formgate::LastReportedError(), c.code);
    }
}

// The error reporter: which text each code gets, the converter's own text for
// its codes, and when nothing is shown.

#include <gtest/gtest.h>

#include "ConverterLibrary.h"
#include "ReadTestSupport.h"

using namespace FormgateTest;

namespace {

class ErrorReporterTest : public ModuleTest {
protected:
    void SetUp() override {
        Start({"conv_s", "conv_e:conv_errstr"}, "[conv_e.so]\n");
        ASSERT_TRUE(script_.Open(dir_ / "conv_s.so"));
        ASSERT_TRUE(withText_.Open(dir_ / "conv_e.so"));
    }
    formgate::ConverterLibrary script_;
    formgate::ConverterLibrary withText_;
};

}  // namespace

TEST_F(ErrorReporterTest, TextsOfEveryCode) {
    struct Case {
        int code;
        const formgate::ConverterLibrary* library;
        const char* path;
        const char* text;
    };
    const Case cases[] = {
        {1, nullptr, "/d/photo.tcv", "Unexpected end of file photo.tcv"},
        {2, nullptr, "/d/photo.tcv", "No enough memory"},
        {3, nullptr, "/d/photo.tcv", "Unknown image file format photo.tcv"},
        {5, &withText_, "/d/photo.tcv", "Unsupporter Subformat photo.tcv"},
        {6, nullptr, "photo.tcv", "Cannot open file photo.tcv"},
        {6, nullptr, nullptr, "Cannot open file "},
        {9, nullptr, "/d/", "File too big "},
        {10, nullptr, "/d/photo.tcv", "Converter in use by other program"},
        {11, nullptr, "/d/photo.tcv", "Illegal conversion requested"},
        {13, nullptr, "/d/photo.tcv", "Disk full writing photo.tcv"},
        {15, &withText_, "/d/photo.tcv", "General Conversion Error"},
        {16, nullptr, "/d/photo.tcv", "General Conversion Error"},
        {17, nullptr, nullptr, "General Conversion Error"},
        {20, nullptr, nullptr, "General Conversion Error"},
        {25, &script_, "/d/photo.tcv", "General Conversion Error"},
        {25, &withText_, "/d/photo.tcv", "Test converter error 25 in photo.tcv"},
        {19, &withText_, nullptr, "Test converter error 19 in "},
        {-3, nullptr, nullptr, "General Conversion Error"},
    };
    for (const Case& c : cases) {
        host_.messages.clear();
        formgate::ReportError(Owner(), c.code, c.path, c.library);
        ASSERT_EQ(host_.messages.size(), 1u) << c.code;
        EXPECT_EQ(host_.messages[0].text, c.text) << c.code;
        EXPECT_EQ(host_.messages[0].caption, "Converter Error");
        EXPECT_EQ(host_.messages[0].icon, formgate::UiHost::Icon::Error);
        EXPECT_EQ(host_.messages[0].owner, Owner());
        EXPECT_EQ(formgate::LastReportedError(), c.code);
    }
    EXPECT_EQ(LogCount("conv_e.so ConvGetErrorString code=25"), 1);
    EXPECT_EQ(LogCountPrefix("conv_e.so ConvGetErrorString code=5"), 0) << "fixed messages never ask";
}

TEST_F(ErrorReporterTest, NothingShownForCancelNoOwnerOrNoError) {
    formgate::ReportError(Owner(), 12, "/d/photo.tcv", nullptr);
    EXPECT_EQ(formgate::LastReportedError(), 12);
    formgate::ReportError(nullptr, 6, "/d/photo.tcv", nullptr);
    EXPECT_EQ(formgate::LastReportedError(), 6);
    formgate::ClearLastReportedError();
    formgate::ReportError(Owner(), 0, "/d/photo.tcv", nullptr);
    EXPECT_EQ(formgate::LastReportedError(), 0);
    EXPECT_TRUE(host_.messages.empty());

    // Without a user interface the library stays silent too.
    TheFormgateApp().SetHost(nullptr);
    formgate::ReportError(Owner(), 6, "/d/photo.tcv", nullptr);
    EXPECT_EQ(formgate::LastReportedError(), 6);
    EXPECT_TRUE(host_.messages.empty());
}

TEST_F(ErrorReporterTest, ConverterTextsThatAreEmptyOrTooLong) {
    // The copies are replaced below: nothing may keep them mapped.
    script_.Close();
    withText_.Close();
    TearDown();
    Start({"conv_e:conv_errstr"}, "[conv_e.so]\nErrorText=");
    formgate::ConverterLibrary library;
    ASSERT_TRUE(library.Open(dir_ / "conv_e.so"));
    EXPECT_EQ(formgate::ErrorReportText(30, "/d/p.tcv", &library, Settings()), "General Conversion Error");

    library.Close();
    TearDown();
    Start({"conv_e:conv_errstr"}, "[conv_e.so]\nErrorText=" + std::string(400, 'e'));
    ASSERT_TRUE(library.Open(dir_ / "conv_e.so"));
    EXPECT_EQ(formgate::ErrorReportText(30, "/d/p.tcv", &library, Settings()), std::string(259, 'e'));
}

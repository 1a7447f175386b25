// Which converter reads a file and which may write a source: extension
// patterns, content checks, FindReader and FindWriter.

#include <gtest/gtest.h>

#include <cstring>

#include "ConverterChoice.h"
#include "ReadTestSupport.h"

using namespace FormgateTest;

TEST(ConverterChoice, ExtensionPatterns) {
    struct Case {
        const char* path;
        const char* patterns;
        bool matches;
    };
    const Case cases[] = {
        {"/x/PHOTO.JPG", ".jpg", true},    {"/x/photo.jpg", ".JPG", true},
        {"/x/a.b.tif", ".tif", true},      {"/x/a.tif.b", ".tif", false},
        {"/x.d/file", ".d", false},        {"/x.d/file", ".*", false},
        {"/x/file", ".tif", false},        {"/x/f.tiff", ".tif*", true},
        {"/x/f.tif", ".tif*", true},       {"/x/f.ti", ".tif*", false},
        {"/x/f.tif", ".tiff", false},      {"/x/f.tiff", ".tif", false},
        {"/x/f.jp", ".jp?", false},        {"/x/f.jpg", ".jp?", true},
        {"/x/f.png", "*.png", true},       {"/x/f.PnG", "Images*.pNg", true},
        {"/x/f.jpeg", ".jpg;.jpeg", true}, {"/x/f.jpg", ".jpg;.jpeg", true},
        {"/x/f.png", ";;.png;", true},     {"/x/f.png", "png", false},
        {"/x/f.png", "", false},           {"/x/f.", ".", true},
        {"/x/.hidden", ".hidden", true},   {"f.abc", ".abc", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formgate::ExtensionMatches(c.path, c.patterns), c.matches) << c.path << " " << c.patterns;
    EXPECT_FALSE(formgate::ExtensionMatches(nullptr, ".png"));
    EXPECT_FALSE(formgate::ExtensionMatches("/x/f.png", nullptr));
}

TEST(ConverterChoice, WriterMasks) {
    const std::pair<int, std::uint32_t> masks[] = {{1, 0x3F1},  {2, 0x3F0},    {4, 0x3E0},    {8, 0x3E0},
                                                   {16, 0x380}, {32, 0x18000}, {64, 0x10000}, {0, 0},
                                                   {3, 0},      {128, 0}};
    for (const auto& [type, mask] : masks) {
        EXPECT_EQ(formgate::WriterMask(type), mask) << type;
        EXPECT_EQ(formgate::SaveListMask(type), type == 8 ? 0x3ECu : mask) << type;
    }
}

namespace {

class ReaderChoiceTest : public ModuleTest {
protected:
    std::string Tcv(const std::string& name) { return File(name, FormgateTest::Tcv("width=2\nheight=2")); }
    // The order in which converters were asked to look at the content.
    std::vector<std::string> Checks() const {
        std::vector<std::string> checks;
        for (const auto& line : LogLines())
            if (line.find(" RDCheckFile") != std::string::npos)
                checks.push_back(line.substr(0, line.find(' ')));
        return checks;
    }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(ReaderChoiceTest, NameMatchesAreTriedFirstAndExclusively) {
    Start({"conv_a", "conv_c", "conv_b", "conv_w"},
          "[conv_a.so]\nFlags=0x11\nPatterns=.abc\nCheck=0\nName=Alpha\n"
          "[conv_c.so]\nFlags=0x11\nPatterns=.cde\nCheck=0\nName=Gamma\n"
          "[conv_b.so]\nFlags=0x11\nPatterns=.xyz\nName=Beta\n"
          "[conv_w.so]\nFlags=0x12\nPatterns=.abc\nName=Writer\n");

    // A reader that matches by name but refuses the content: nobody else is asked.
    const std::string abc = Tcv("f.abc");
    RecordingSink sink;
    ClearLog();
    host_.messages.clear();
    EXPECT_EQ(ImExp_ReadFile(&sink, Owner(), abc.c_str(), 16, nullptr, nullptr, 0), 0);
    EXPECT_EQ(formgate::LastReportedError(), 3);
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text, "Unknown image file format f.abc");
    EXPECT_EQ(Checks(), Strings{"conv_a.so"});
    EXPECT_FALSE(AnyConverterMapped());

    // An unknown extension goes to every reader with a content check, in order.
    ClearLog();
    char name[128] = "";
    EXPECT_EQ(FindReader(Tcv("f.unknown").c_str(), name), 1);
    EXPECT_STREQ(name, "Beta");
    EXPECT_EQ(Checks(), (Strings{"conv_a.so", "conv_c.so", "conv_b.so"}));

    // A preferred reader, named without regard to case, is asked first.
    ClearLog();
    std::strcpy(name, "bEtA");
    EXPECT_EQ(FindReader(abc.c_str(), name), 1);
    EXPECT_STREQ(name, "Beta");
    EXPECT_EQ(Checks(), Strings{"conv_b.so"});

    // A preferred reader that refuses is not asked again as a name match.
    ClearLog();
    std::strcpy(name, "alpha");
    EXPECT_EQ(FindReader(abc.c_str(), name), 0);
    EXPECT_EQ(Checks(), Strings{"conv_a.so"});
    EXPECT_STREQ(name, "alpha");

    // Only readers read: a writer's name prefers nothing.
    ClearLog();
    std::strcpy(name, "Writer");
    EXPECT_EQ(FindReader(Tcv("g.unknown").c_str(), name), 1);
    EXPECT_STREQ(name, "Beta");

    EXPECT_EQ(FindReader(Tcv("h.unknown").c_str(), nullptr), 1);
    EXPECT_EQ(FindReader((dir_ / "missing.xyz").c_str(), nullptr), 0);
    EXPECT_EQ(FindReader(nullptr, nullptr), 0);
    EXPECT_EQ(host_.messages.size(), 1u) << "FindReader shows nothing";
}

TEST_F(ReaderChoiceTest, ReadersWithoutContentCheckAreTakenByNameUnasked) {
    Start({"conv_a", "conv_n"},
          "[conv_a.so]\nFlags=0x11\nPatterns=.abc\nCheck=0\n"
          "[conv_n.so]\nFlags=0x1\nPatterns=.abc;.nnn\nName=Plain\n");
    char name[128] = "";
    EXPECT_EQ(FindReader(Tcv("f.abc").c_str(), name), 1);
    EXPECT_STREQ(name, "Plain");
    EXPECT_EQ(Checks(), Strings{"conv_a.so"});

    // Without any name match, readers without a content check are never chosen,
    // unless preferred.
    EXPECT_EQ(FindReader(Tcv("f.zzz").c_str(), nullptr), 0);
    EXPECT_EQ(FindReader(Tcv("f.zzz").c_str(), name), 1);

    // A content check that throws is a refusal, and the next reader is asked.
    TearDown();
    Start({"conv_a", "conv_b"}, "[conv_a.so]\nFlags=0x11\nThrow.RDCheckFile=cpp\n[conv_b.so]\nFlags=0x11\n");
    EXPECT_EQ(FindReader(Tcv("f.tcv").c_str(), name), 1);
    EXPECT_STREQ(name, "Test conv_b.so");
    EXPECT_FALSE(AnyConverterMapped());

    // An empty registry reads nothing.
    TearDown();
    Start({});
    EXPECT_EQ(FindReader(Tcv("f.tcv").c_str(), name), 0);
}

namespace {

// A source that only answers what FindWriter asks.
class FormatSource : public CAbstractWriteWA {
public:
    explicit FormatSource(int type, int result = 0) : type_(type), result_(result) {}
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int GetSize(int, int, int*, int*) override { return 0; }
    int GetFormat(int, int, int* type) override {
        if (result_ == 0)
            *type = type_;
        return result_;
    }
    int GetPalette(int, int, unsigned char* entries) override {
        ++paletteCalls;
        std::memset(entries, 0, 1024);
        return 0;
    }
    int GetResolution(int, int, int*, int*) override { return 0; }
    int GetRow(int, int, int, void*) override { return 0; }
    int GetAlphaRow(int, int, int, void*) override { return 0; }
    int HasAlpha(int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }
    int paletteCalls = 0;

private:
    int type_;
    int result_;
};

}  // namespace

TEST_F(ReaderChoiceTest, FindWriterByMaskAndName) {
    Start({"conv_r", "conv_g", "conv_p"},
          "[conv_r.so]\nFlags=0x11\nMask=0xFFFFFFFF\nPatterns=.tcv\n"
          "[conv_g.so]\nFlags=0x2\nMask=0x8000\nPatterns=.tcv\n"
          "[conv_p.so]\nFlags=0x2\nMask=0x10\nPatterns=.pal\n");
    struct Case {
        int type;
        int getFormatResult;
        const char* path;
        int found;
        int paletteCalls;
    };
    const Case cases[] = {
        {32, 0, "/out/pano.tcv", 1, 0}, {32, 0, "/out/pano.TCV", 1, 0}, {64, 0, "/out/pano.tcv", 0, 0},
        {16, 0, "/out/pano.tcv", 0, 0}, {32, 0, "/out/pano.pal", 0, 0}, {2, 0, "/out/pano.pal", 1, 1},
        {4, 0, "/out/pano.pal", 0, 1},  {1, 0, "/out/pano.pal", 1, 0},  {7, 0, "/out/pano.tcv", 0, 0},
        {32, 1, "/out/pano.tcv", 0, 0},
    };
    for (const Case& c : cases) {
        FormatSource source(c.type, c.getFormatResult);
        EXPECT_EQ(FindWriter(&source, c.path), c.found) << c.type << " " << c.path;
        EXPECT_EQ(source.paletteCalls, c.paletteCalls) << c.type << " " << c.path;
    }
    // Without a source every mask bit counts, but the name still must match.
    EXPECT_EQ(FindWriter(nullptr, "/out/pano.tcv"), 1);
    EXPECT_EQ(FindWriter(nullptr, "/out/pano.bmp"), 0);
    EXPECT_EQ(formgate::ChooseWriter(*TheFormgateApp().Registry(), 0x10, "/o/p.pal"), 2);
    EXPECT_EQ(formgate::ChooseWriter(*TheFormgateApp().Registry(), 0x10, "/o/p.tcv"), -1);
    EXPECT_TRUE(host_.messages.empty());
}

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ConverterRegistry.h"
#include "FormgateTestSupport.h"
#include "IniFile.h"
#include "TestData.h"

using formgate::ConverterLibrary;
using formgate::ConverterRegistry;
using FormgateTest::InstallCopy;
using FormgateTest::IsMapped;
using FormgateTest::WriteText;
namespace fs = std::filesystem;

namespace {

// A module folder in a scratch directory, with "CONVERT.INI" and converter copies.
class RegistryTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_.path().string(); }
    std::string Settings() const { return dir_ / "CONVERT.INI"; }
    std::string Path(const std::string& relative) const { return (dir_.path() / relative).string(); }
    void Copy(const std::string& variant, const std::string& relative) {
        InstallCopy(variant, dir_.path() / relative);
    }
    void Ini(const std::string& text) { WriteText(Settings(), text); }
    int Load() { return registry_.Load(Settings(), Folder()); }

    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const ConverterRecord& r : registry_.Records())
            paths.push_back(r.path);
        return paths;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const ConverterRecord& r : registry_.Records())
            names.push_back(r.name);
        return names;
    }
    void ExpectNothingMapped() const {
        for (const auto& entry : fs::recursive_directory_iterator(dir_.path()))
            EXPECT_FALSE(IsMapped(entry.path().string())) << entry.path();
    }

    TestData::ScratchDir dir_;
    ConverterRegistry registry_;
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(RegistryTest, KeepsExactlyTheUsableConvertersInFileOrder) {
    Copy("conv_script", "conv_a.so");
    Copy("conv_script", "sub/conv_b.so");
    Copy("conv_script", "elsewhere/conv_c.so");
    Copy("conv_script", "conv_v2ff.so");
    Copy("conv_noversion", "conv_noversion.so");
    WriteText(Path("notalib.so"), "this is no shared library\n");
    Ini("[Settings]\nOpenDir=/x\n"
        "[Converters]\n"
        "z=conv_a.so\n"
        "a=sub/conv_b.so\n"
        "m=conv_v2ff.so\n"
        "q=missing.so\n"
        "r=conv_noversion.so\n"
        "t=notalib.so\n"
        "e=\n"
        "c=" +
        Path("elsewhere/conv_c.so") +
        "\n"
        "[conv_a.so]\nName=Alpha\nLog=" +
        Path("log.txt") +
        "\n"
        "[conv_b.so]\nName=Beta\nLog=" +
        Path("log.txt") +
        "\n"
        "[conv_v2ff.so]\nVersion=0x302FF\n");

    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(Paths(), (Strings{Path("conv_a.so"), Path("sub/conv_b.so"), Path("elsewhere/conv_c.so")}));
    EXPECT_EQ(Names(), (Strings{"Alpha", "Beta", "Test conv_c.so"}));
    EXPECT_EQ(registry_.Record(0).flags, 0x13u);
    EXPECT_EQ(registry_.Record(0).subformatMask, 0x200u);
    EXPECT_STREQ(registry_.Record(0).patterns, ".tcv");
    EXPECT_EQ(registry_.SettingsPath(), Settings());

    // Each converter saw the settings path and its own full path already in the record.
    const auto log = FormgateTest::ReadLines(Path("log.txt"));
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "conv_a.so ConvGetDllInfo settings=" + Settings() + " path=" + Path("conv_a.so")),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "conv_b.so ConvGetDllInfo settings=" + Settings() + " path=" + Path("sub/conv_b.so")),
              log.end());
    ExpectNothingMapped();
}

// An empty registry says why, so a broken installation can be diagnosed.
TEST_F(RegistryTest, NoUsableConverterGivesAnEmptyRegistryAndSaysWhy) {
    Copy("conv_noversion", "conv_noversion.so");
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> problem;  // parts of the text, in order
    } cases[] = {
        {"no file",
         "",
         {"Formgate: no \"CONVERT.INI\" in " + Folder() + ": no image converter is installed"}},
        {"no section",
         "[Settings]\nOpenDir=/x\n",
         {Settings() + " lists no converter in section [Converters]"}},
        {"empty section", "[Converters]\n[Settings]\n", {Settings() + " lists no converter"}},
        {"only unusable",
         "[Converters]\n0=missing.so\n1=conv_noversion.so\n2=\n",
         {"Formgate: no usable converter in " + Settings() + ":\n",
          "  " + Path("missing.so") + ": cannot be loaded: ",
          "\n  " + Path("conv_noversion.so") + ": no ConvGetVersion"}},
    };
    Copy("conv_script", "unlisted.so");
    for (const auto& c : cases) {
        fs::remove(Settings());
        if (!c.text.empty())
            Ini(c.text);
        EXPECT_EQ(Load(), 17) << c.name;
        EXPECT_EQ(registry_.Count(), 0) << c.name;
        std::size_t at = 0;
        for (const std::string& part : c.problem) {
            at = registry_.Problem().find(part, at);
            ASSERT_NE(at, std::string::npos) << c.name << ": '" << part << "' in\n" << registry_.Problem();
        }
    }
    Ini("[Converters]\n0=missing.so\n1=unlisted.so\n");
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(registry_.Problem(), "");
}

TEST_F(RegistryTest, MalformedListsReadAsTheIniFileDocuments) {
    Copy("conv_script", "conv_a.so");
    Copy("conv_script", "conv_b.so");
    const std::string longKey(300, 'k');
    const std::string longValue = std::string(300, 'v') + ".so";
    Ini("\xEF\xBB\xBF"
        "text before any section\r\n"
        "[Converters]\r\n"
        "just words, no equals sign\r\n"
        "z=conv_a.so\r\n"
        "Z=conv_b.so\r\n"
        "long=" +
        longValue + "\r\n" + longKey +
        "=conv_b.so\r\n"
        "=conv_b.so\r\n");
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(Paths(), (Strings{Path("conv_a.so"), Path("conv_b.so")}))
        << "the first of two equal keys counts; a long key name still counts; a long value is refused";
}

TEST_F(RegistryTest, PathsThatDoNotFitTheRecordAreRefusedNotCut) {
    const size_t base = Folder().size() + 1 + 1 + std::string("/conv.so").size();
    if (base >= ConverterRegistry::kMaxPath)
        GTEST_SKIP() << "scratch folder too deep";
    const std::string fits(ConverterRegistry::kMaxPath - base + 1, 'f');
    const std::string tooLong(ConverterRegistry::kMaxPath - base + 2, 'l');
    Copy("conv_script", fits + "/conv.so");
    Copy("conv_script", tooLong + "/conv.so");
    ASSERT_EQ(Path(fits + "/conv.so").size(), ConverterRegistry::kMaxPath);
    Ini("[Converters]\n0=" + tooLong + "/conv.so\n1=" + fits + "/conv.so\n");
    EXPECT_EQ(Load(), 0);
    EXPECT_EQ(Paths(), (Strings{Path(fits + "/conv.so")}));
}

TEST_F(RegistryTest, ConverterStringsAreForcedToEndInTheirFields) {
    Copy("conv_script", "conv_g.so");
    Copy("conv_script", "conv_t.so");
    Ini("[Converters]\n0=conv_g.so\n1=conv_t.so\n[conv_g.so]\nGarbage=1\n[conv_t.so]\nThrow.ConvGetDllInfo="
        "cpp\n");
    EXPECT_EQ(Load(), 0);
    ASSERT_EQ(registry_.Count(), 1) << "a converter that throws while describing itself is not used";
    const ConverterRecord& r = registry_.Record(0);
    EXPECT_STREQ(r.path, Path("conv_g.so").c_str())
        << "the path is the library's, whatever the converter wrote";
    EXPECT_EQ(std::string(r.name), std::string(127, 'n'));
    EXPECT_EQ(std::string(r.filterDescription), std::string(39, 'f'));
    EXPECT_EQ(std::string(r.patterns), std::string(41, 'x'));
}

TEST_F(RegistryTest, RewriteNumbersKeysInRegistryOrderAndKeepsOtherSections) {
    Copy("conv_script", "conv_a.so");
    Copy("conv_script", "sub/conv_b.so");
    Ini("; settings of the import/export library\n"
        "[Settings]\nOpenDir=/photos\nOpenFormat=Alpha\n"
        "[Converters]\nz=conv_a.so\nm=missing.so\na=sub/conv_b.so\n"
        "[Browse]\nLeft=10\nSAVEDB=1\n");
    ASSERT_EQ(Load(), 0);
    ASSERT_TRUE(registry_.WriteSection());
    EXPECT_EQ(FormgateTest::ReadText(Settings()),
              "; settings of the import/export library\n"
              "[Settings]\nOpenDir=/photos\nOpenFormat=Alpha\n"
              "[Converters]\n0=" +
                  Path("conv_a.so") + "\n1=" + Path("sub/conv_b.so") +
                  "\n"
                  "[Browse]\nLeft=10\nSAVEDB=1\n");
    ConverterRegistry again;
    EXPECT_EQ(again.Load(Settings(), "/some/other/folder"), 0) << "full paths do not depend on the folder";
    EXPECT_EQ(again.Count(), 2);

    ASSERT_TRUE(registry_.Remove(0));
    EXPECT_FALSE(registry_.Remove(1));
    Platform::IniFile ini(Settings());
    EXPECT_EQ(ini.Section("Converters"), (Platform::IniFile::Entries{{"0", Path("sub/conv_b.so")}}));
    EXPECT_EQ(ini.GetString("Browse", "SAVEDB"), "1");
    ASSERT_TRUE(registry_.Remove(0));
    EXPECT_FALSE(Platform::IniFile(Settings()).HasSection("Converters"));
    EXPECT_EQ(Platform::IniFile(Settings()).GetString("Settings", "OpenDir"), "/photos");
}

TEST_F(RegistryTest, InstallQualifiesTheModuleAndRefusesDuplicates) {
    Copy("conv_script", "conv_a.so");
    Copy("conv_script", "conv_c.so");
    Copy("conv_noinfo", "conv_noinfo.so");
    Copy("conv_noversion", "conv_noversion.so");
    Copy("conv_script", "conv_old.so");
    Copy("conv_script", "conv_neither.so");
    fs::create_symlink(Path("conv_a.so"), Path("link.so"));
    Ini("[Converters]\n0=conv_a.so\n[conv_old.so]\nVersion=0x302FF\n[conv_neither.so]\nVersion=0x300\n"
        "[conv_c.so]\nName=Gamma\n");
    ASSERT_EQ(Load(), 0);

    using R = ConverterRegistry::InstallResult;
    EXPECT_EQ(registry_.Install(0, Path("link.so")), R::AlreadyInstalled);
    EXPECT_EQ(registry_.Install(0, Path("./conv_a.so")), R::AlreadyInstalled);
    EXPECT_EQ(registry_.Install(0, Path("conv_noinfo.so")), R::Unusable);
    EXPECT_EQ(registry_.Install(0, Path("conv_noversion.so")), R::Unusable);
    EXPECT_EQ(registry_.Install(0, Path("conv_old.so")), R::Unusable);
    EXPECT_EQ(registry_.Install(0, Path("conv_neither.so")), R::Unusable)
        << "neither import nor export filter";
    EXPECT_EQ(registry_.Install(0, Path("CONVERT.INI")), R::Unusable);
    EXPECT_EQ(registry_.Count(), 1);

    EXPECT_EQ(registry_.Install(0, Path("conv_c.so")), R::Installed);
    EXPECT_EQ(Names(), (Strings{"Gamma", "Test conv_a.so"}));
    EXPECT_EQ(Platform::IniFile(Settings()).Section("Converters"),
              (Platform::IniFile::Entries{{"0", Path("conv_c.so")}, {"1", Path("conv_a.so")}}));
    ExpectNothingMapped();
}

TEST_F(RegistryTest, EachOperationLoadsItsConverterAndFreesIt) {
    Copy("conv_script", "conv_a.so");
    Copy("conv_script", "conv_b.so");
    Ini("[Converters]\n0=conv_a.so\n1=conv_b.so\n");
    ASSERT_EQ(Load(), 0);
    ExpectNothingMapped();
    {
        ConverterLibrary library;
        ASSERT_EQ(registry_.OpenConverter(1, library), 0);
        EXPECT_TRUE(IsMapped(Path("conv_b.so")));
        EXPECT_NE(FORMGATE_ENTRY(library, RDReadHeader), nullptr);
        EXPECT_EQ(FORMGATE_ENTRY(library, ConvGetErrorString), nullptr);
    }
    EXPECT_FALSE(IsMapped(Path("conv_b.so")));

    ConverterLibrary library;
    EXPECT_EQ(registry_.OpenConverter(-1, library), 18);
    EXPECT_EQ(registry_.OpenConverter(2, library), 18);
    fs::remove(Path("conv_a.so"));
    EXPECT_EQ(registry_.OpenConverter(0, library), 18) << "removed after start-up";
    EXPECT_FALSE(library.IsOpen());
    EXPECT_FALSE(library.Error().empty());
}

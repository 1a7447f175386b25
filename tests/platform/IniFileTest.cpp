#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "IniFile.h"
#include "HostileFiles.h"
#include "TestData.h"

using Platform::IniFile;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

using Keys = std::vector<std::string>;

}  // namespace

TEST(IniFile, ReadsSectionsKeysInFileOrderIgnoringCase) {
    TestData::ScratchDir dir;
    const std::string path = dir / "a.ini";
    WriteText(path,
              "stray text before any section\n"
              "loose=ignored\n"
              "[Converters]\n"
              "  z = conv_a.so  \n"
              "a=sub/conv_b.so\n"
              "no equals sign here\n"
              "; comment=not a key\n"
              "=empty key name\n"
              "A=duplicate, first wins\n"
              "empty=\n"
              "[Settings]\n"
              "OpenDir=/home/x\n"
              "[converters]\n"
              "late=second section of the same name is not read\n");
    IniFile ini(path);
    EXPECT_EQ(ini.SectionNames(), (Keys{"Converters", "Settings"}));
    EXPECT_EQ(ini.KeyNames("CONVERTERS"), (Keys{"z", "a", "empty"}));
    EXPECT_EQ(ini.GetString("converters", "Z"), "conv_a.so");
    EXPECT_EQ(ini.GetString("Converters", "a"), "sub/conv_b.so");
    EXPECT_TRUE(ini.HasKey("Converters", "empty"));
    EXPECT_EQ(ini.GetString("Converters", "empty", "dflt"), "");
    EXPECT_EQ(ini.GetString("Converters", "missing", "dflt"), "dflt");
    EXPECT_EQ(ini.GetString("Nowhere", "OpenDir", "d"), "d");
    EXPECT_FALSE(ini.HasKey("Converters", "late"));
    EXPECT_FALSE(ini.HasKey("Converters", "; comment"));
    EXPECT_EQ(ini.GetString("settings", "opendir"), "/home/x");
}

TEST(IniFile, AcceptsCrlfBomAndVeryLongValues) {
    TestData::ScratchDir dir;
    const std::string path = dir / "b.ini";
    const std::string longValue(100000, 'v');
    const std::string longKey(5000, 'k');
    WriteText(path, "\xEF\xBB\xBF[Converters]\r\n0=one.so\r\n" + longKey + "=" + longValue + "\r\n1=two.so");
    IniFile ini(path);
    EXPECT_EQ(ini.KeyNames("Converters"), (Keys{"0", longKey, "1"}));
    EXPECT_EQ(ini.GetString("Converters", "0"), "one.so");
    EXPECT_EQ(ini.GetString("Converters", longKey), longValue);
    EXPECT_EQ(ini.GetString("Converters", "1"), "two.so");

    // A change keeps the mark, the line ends and every untouched line.
    ASSERT_TRUE(ini.WriteString("Converters", "1", "three.so"));
    EXPECT_EQ(ReadText(path),
              "\xEF\xBB\xBF[Converters]\r\n0=one.so\r\n" + longKey + "=" + longValue + "\r\n1=three.so");
}

TEST(IniFile, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
    TestData::ScratchDir dir;
    const std::string path = dir / "new.ini";
    IniFile ini(path);
    EXPECT_TRUE(ini.SectionNames().empty());
    EXPECT_EQ(ini.GetInt("GENERAL", "NOTFIRSTLAUNCH", 7), 7);
    ASSERT_TRUE(ini.WriteInt("GENERAL", "NOTFIRSTLAUNCH", 0));
    ASSERT_TRUE(ini.WriteString("General", "Skin", "default"));
    EXPECT_EQ(ReadText(path), "[GENERAL]\nNOTFIRSTLAUNCH=0\nSkin=default\n");
    EXPECT_EQ(IniFile(path).GetInt("general", "notfirstlaunch", 7), 0);
}

TEST(IniFile, WritesReplaceFirstKeyAndInsertAfterLastKey) {
    TestData::ScratchDir dir;
    const std::string path = dir / "c.ini";
    WriteText(path, "[A]\nx=1\nX=2\n\n[B]\ny=3\n");
    IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("a", "X", "10"));
    ASSERT_TRUE(ini.WriteString("A", "new", "n"));
    ASSERT_TRUE(ini.WriteString("C", "z", "last"));
    EXPECT_EQ(ReadText(path), "[A]\nX=10\nX=2\nnew=n\n\n[B]\ny=3\n[C]\nz=last\n");
    ASSERT_TRUE(ini.DeleteKey("A", "x"));
    EXPECT_EQ(ReadText(path), "[A]\nnew=n\n\n[B]\ny=3\n[C]\nz=last\n");
    EXPECT_EQ(ini.GetString("A", "x", "gone"), "gone");
}

TEST(IniFile, RefusesNamesAndValuesThatWouldNotReadBack) {
    TestData::ScratchDir dir;
    const std::string path = dir / "d.ini";
    WriteText(path, "[A]\nx=1\n");
    IniFile ini(path);
    EXPECT_FALSE(ini.WriteString("A", "a=b", "v"));
    EXPECT_FALSE(ini.WriteString("A", "k", "line\nbreak"));
    EXPECT_FALSE(ini.WriteString("A", "[k", "v"));
    EXPECT_FALSE(ini.WriteString("A", "", "v"));
    EXPECT_FALSE(ini.WriteString("S]", "k", "v"));
    EXPECT_FALSE(ini.ReplaceSection("A", {{"0", "a\r"}}));
    EXPECT_EQ(ReadText(path), "[A]\nx=1\n");
}

TEST(IniFile, ReplaceSectionKeepsItsPlaceAndOtherSections) {
    TestData::ScratchDir dir;
    const std::string path = dir / "e.ini";
    WriteText(path,
              "; head\n[Settings]\nOpenDir=/p\n[Converters]\nz=a.so\nz=dup.so\n[Browse]\nLeft=5\n"
              "[CONVERTERS]\nq=b.so\n");
    IniFile ini(path);
    ASSERT_TRUE(ini.ReplaceSection("converters", {{"0", "/m/a.so"}, {"1", "/m/b.so"}}));
    EXPECT_EQ(ReadText(path),
              "; head\n[Settings]\nOpenDir=/p\n[Converters]\n0=/m/a.so\n1=/m/b.so\n[Browse]\nLeft=5\n");
    ASSERT_TRUE(ini.DeleteSection("Converters"));
    EXPECT_EQ(ReadText(path), "; head\n[Settings]\nOpenDir=/p\n[Browse]\nLeft=5\n");
    EXPECT_FALSE(ini.HasSection("Converters"));
    ASSERT_TRUE(ini.ReplaceSection("Converters", {{"0", "/m/c.so"}}));
    EXPECT_EQ(ini.KeyNames("Converters"), (Keys{"0"}));
}

TEST(IniFile, GetIntReadsLeadingDecimalNumber) {
    TestData::ScratchDir dir;
    const std::string path = dir / "f.ini";
    WriteText(path, "[N]\na=42\nb= -7x\nc=abc\nd=\ne=99999999999\nf=+3\ng=-99999999999\n");
    IniFile ini(path);
    const std::pair<const char*, int> cases[] = {{"a", 42},      {"b", -7}, {"c", 0},       {"d", 0},
                                                 {"e", INT_MAX}, {"f", 3},  {"g", INT_MIN}, {"missing", 5}};
    for (auto [key, expected] : cases)
        EXPECT_EQ(ini.GetInt("N", key, 5), expected) << key;
}

TEST(IniFile, WritesSeeChangesMadeThroughAnotherObject) {
    TestData::ScratchDir dir;
    const std::string path = dir / "g.ini";
    IniFile first(path);
    IniFile second(path);
    ASSERT_TRUE(first.WriteString("Settings", "OpenDir", "/a"));
    ASSERT_TRUE(second.WriteString("Browse", "Left", "1"));
    IniFile check(path);
    EXPECT_EQ(check.GetString("Settings", "OpenDir"), "/a");
    EXPECT_EQ(check.GetString("Browse", "Left"), "1");
}

TEST(IniFile, WriteGoesThroughRenameKeepsModeAndLeavesNoTemporary) {
    TestData::ScratchDir dir;
    const std::string path = dir / "h.ini";
    WriteText(path, "[A]\nx=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("A", "x", "2"));
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "the file must be replaced, not rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

// The write is made to fail by a file size limit, which binds every user.
TEST(IniFile, FailedWriteLeavesFileAndObjectUnchanged) {
    TestData::ScratchDir dir;
    const std::string path = dir / "i.ini";
    WriteText(path, "[A]\nx=1\n");
    IniFile ini(path);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 12;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool wrote = ini.WriteString("A", "x", "a value too long for the limit");
    const bool replaced = ini.ReplaceSection("A", {{"0", "another long value"}});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(replaced);
    EXPECT_EQ(ini.GetString("A", "x"), "1");
    EXPECT_EQ(ReadText(path), "[A]\nx=1\n");
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1) << "no temporary file is left behind";
}

TEST(IniFile, RewriteKeepsEachLineItsOwnLineEnd) {
    TestData::ScratchDir dir;
    const std::string path = dir / "mixed.ini";
    WriteText(path, "[A]\r\nx=1\ny=2\r\n; note\n[B]\nz=3");
    IniFile ini(path);
    ASSERT_TRUE(ini.WriteString("A", "y", "5"));
    ASSERT_TRUE(ini.WriteString("B", "w", "6"));
    EXPECT_EQ(ReadText(path), "[A]\r\nx=1\ny=5\r\n; note\n[B]\nz=3\r\nw=6");
}

TEST(IniFile, WriteThroughLinkReplacesItsTargetAndKeepsTheLink) {
    TestData::ScratchDir dir;
    std::filesystem::create_directories(dir / "dotfiles");
    const std::string target = dir / "dotfiles/profile.ini";
    const std::string link = dir / "profile.ini";
    WriteText(target, "[A]\nx=1\n");
    ASSERT_EQ(::symlink("dotfiles/profile.ini", link.c_str()), 0);
    IniFile ini(link);
    EXPECT_EQ(ini.GetString("A", "x"), "1");
    ASSERT_TRUE(ini.WriteString("A", "x", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadText(target), "[A]\nx=2\n");
}

TEST(IniFile, FifoAndDeviceReadAsUnreadableWithoutWaiting) {
    TestData::ScratchDir dir;
    const std::string fifo = TestData::MakeFifo(dir / "fifo.ini");
    for (const std::string& path : {fifo, TestData::kEndlessDevice}) {
        SCOPED_TRACE(path);
        bool reloaded = true;
        ASSERT_TRUE(TestData::ReturnsWithoutWaiting(fifo, [&] { reloaded = IniFile(path).Reload(); }));
        EXPECT_FALSE(reloaded);
    }
}

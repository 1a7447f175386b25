#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "FormgateApp.h"
#include "FormgateTestSupport.h"
#include "TestData.h"

using FormgateTest::InstallCopy;
using FormgateTest::IsMapped;
using FormgateTest::WriteText;
namespace fs = std::filesystem;

namespace {

// A copy of libformgate.so in a folder of its own, loaded as a program loads it.
class LoadedCopy {
public:
    explicit LoadedCopy(const fs::path& folder) : path_((folder / "libformgate.so").string()) {
        fs::copy_file(FORMGATE_LIBRARY, path_);
        handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~LoadedCopy() {
        if (handle_)
            ::dlclose(handle_);
    }
    bool Loaded() const { return handle_ != nullptr; }

private:
    std::string path_;
    void* handle_ = nullptr;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(FormgateModule, LoadsTheConverterListBesideItselfWhenLoaded) {
    TestData::ScratchDir dir;
    InstallCopy("conv_script", dir.path() / "converters/conv_a.so");
    const std::string log = dir / "log.txt";
    WriteText(dir.path() / "CONVERT.INI",
              "[Converters]\n0=converters/conv_a.so\n[conv_a.so]\nLog=" + log + "\n");
    LoadedCopy library(dir.path());
    ASSERT_TRUE(library.Loaded()) << dlerror();
    const auto lines = FormgateTest::ReadLines(log);
    EXPECT_TRUE(Contains(lines, "conv_a.so ConvGetDllInfo settings=" + (dir / "CONVERT.INI") +
                                    " path=" + (dir / "converters/conv_a.so")))
        << FormgateTest::ReadText(log);
    EXPECT_FALSE(IsMapped(dir / "converters/conv_a.so")) << "freed again after start-up";
}

TEST(FormgateModule, StartsWithoutAnyConverterList) {
    for (const char* text : {static_cast<const char*>(nullptr), "", "[Converters]\n"}) {
        TestData::ScratchDir dir;
        if (text)
            WriteText(dir.path() / "CONVERT.INI", text);
        LoadedCopy library(dir.path());
        EXPECT_TRUE(library.Loaded()) << dlerror();
    }
}

TEST(FormgateModule, ApplicationObjectKeepsRegistryAndSettingsPath) {
    TestData::ScratchDir dir;
    InstallCopy("conv_script", dir.path() / "conv_a.so");
    WriteText(dir.path() / "CONVERT.INI", "[Converters]\n0=conv_a.so\n");
    CFormgateApp app;
    ASSERT_TRUE(app.InitInstanceIn(dir.path().string()));
    EXPECT_EQ(app.SettingsPath(), dir / "CONVERT.INI");
    EXPECT_EQ(app.ModuleFolder(), dir.path().string());

    // A reader keeps its snapshot while the registry is replaced or dropped.
    auto held = app.Registry();
    ASSERT_EQ(held->Count(), 1);
    app.SetRegistry(std::make_shared<formgate::ConverterRegistry>());
    EXPECT_EQ(app.Registry()->Count(), 0);
    EXPECT_STREQ(held->Record(0).path, (dir / "conv_a.so").c_str());

    ASSERT_TRUE(app.InitInstanceIn(dir.path().string()));
    EXPECT_EQ(app.Registry()->Count(), 1);
    app.ExitInstance();
    EXPECT_EQ(app.Registry()->Count(), 0);
    EXPECT_EQ(held->Count(), 1);
}

// A library folder with no usable converter is told on stderr, once for the same
// problem; a working one says nothing.
TEST(FormgateModule, BrokenInstallationIsReportedOnceOnStderr) {
    TestData::ScratchDir dir;
    CFormgateApp app;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(app.InitInstanceIn(dir.path().string()));
    ASSERT_TRUE(app.InitInstanceIn(dir.path().string()));
    std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(told, "Formgate: no \"CONVERT.INI\" in " + dir.path().string() +
                        ": no image converter is installed (expected " + (dir / "CONVERT.INI") + ")\n");

    WriteText(dir.path() / "CONVERT.INI", "[Converters]\n0=gone.so\n");
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(app.InitInstanceIn(dir.path().string()));
    told = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(told.rfind("Formgate: no usable converter in " + (dir / "CONVERT.INI") + ":\n  " +
                             (dir / "gone.so") + ": cannot be loaded: ",
                         0),
              0u)
        << told;

    InstallCopy("conv_script", dir.path() / "conv_a.so");
    WriteText(dir.path() / "CONVERT.INI", "[Converters]\n0=conv_a.so\n");
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(app.InitInstanceIn(dir.path().string()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(app.Registry()->Count(), 1);
    app.ExitInstance();
}

TEST(FormgateModule, OwnFolderIsWhereThisCodeLies) {
    EXPECT_FALSE(CFormgateApp::OwnFolder().empty());
    EXPECT_TRUE(fs::path(CFormgateApp::OwnFolder()).is_absolute());
    EXPECT_TRUE(fs::is_directory(CFormgateApp::OwnFolder()));
}

namespace {

// A sink that counts every call it gets.
class CountingSink : public CAbstractReadWA {
public:
    int calls = 0;
    int Reserved1(int) override { return ++calls, 0; }
    int Reserved2(int, int) override { return ++calls, 0; }
    int SetSize(int, int, int, int) override { return ++calls, 0; }
    int SetFormat(int, int, int) override { return ++calls, 0; }
    int SetPalette(int, int, const unsigned char*, int) override { return ++calls, 0; }
    int SetResolution(int, int, int, int) override { return ++calls, 0; }
    int PutRow(int, int, int, const void*) override { return ++calls, 0; }
    int PutAlphaRow(int, int, int, const void*) override { return ++calls, 0; }
    int SetAlphaChannel(int, int, int) override { return ++calls, 0; }
    int Reserved10(int, int, int, int, int) override { return ++calls, 0; }
};

}  // namespace

TEST(FormgateModule, SixteenBitThumbnailReadsNothing) {
    CountingSink sink;
    ImExpRect box{0, 0, 120, 90};
    EXPECT_EQ(ImExp_ReadThumbW(&sink, nullptr, u"/any/photo.tcv", &box), 0);
    EXPECT_EQ(sink.calls, 0);
}

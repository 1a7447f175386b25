// The program's own readers on what is no ordinary file: a FIFO (an ordinary
// open waits on it for ever) and an endless device. Each refuses at once.

#include <gtest/gtest.h>

#include <functional>

#include "AspectData.h"
#include "HostileFiles.h"
#include "MarkerBitmap.h"
#include "ModuleThumbnailReader.h"
#include "SkinFile.h"
#include "TestData.h"
#include "ThumbnailImageReader.h"

TEST(HostileFiles, ProgramReadersRefuseFifosAndDevicesAtOnce) {
    TestData::ScratchDir dir;
    const std::string fifo = TestData::MakeFifo(dir / "file.bmp");
    const struct {
        const char* reader;
        std::function<bool(const std::string&)> reads;
    } readers[] = {
        {"marker bitmap",
         [](const std::string& p) { return Markers::LoadPremultipliedBitmap(p) != nullptr; }},
        {"thumbnail through the module",
         [](const std::string& p) {
             ThumbnailPicture picture;
             return ReadThumbnailThroughModule(p, QSize(220, 165), nullptr, picture);
         }},
        {"aspect text",
         [](const std::string& p) {
             std::string text;
             return ReadTextFile(p, text) >= 0;
         }},
        {"skin file",
         [](const std::string& p) {
             CSkinFile skin;
             skin.SetPath(p);
             return !skin.GetSkinString("MAIN", "XBUTTON", "").empty();
         }},
    };
    for (const auto& r : readers) {
        for (const std::string& path : {fifo, TestData::kEndlessDevice}) {
            SCOPED_TRACE(std::string(r.reader) + " on " + path);
            bool took = true;
            ASSERT_TRUE(TestData::ReturnsWithoutWaiting(fifo, [&] { took = r.reads(path); }));
            EXPECT_FALSE(took);
        }
    }
}

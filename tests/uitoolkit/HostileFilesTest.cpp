// The toolkit's picture readers on what is no ordinary file, and on a Res
// folder whose name is not UTF-8.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "Bitmap32.h"
#include "HostileFiles.h"
#include "InterfaceImageList.h"
#include "TestData.h"
#include "TestSkin.h"

TEST(HostileFiles, PictureReadersRefuseFifosAndDevicesAtOnce) {
    TestData::ScratchDir dir;
    const std::string fifo = TestData::MakeFifo(dir / "button.bmp");
    const struct {
        const char* reader;
        std::function<bool(const std::string&)> reads;
    } readers[] = {
        {"32-bit BMP", [](const std::string& p) { return !Bitmap32::LoadBitmap32File(p).isNull(); }},
        {"skin picture", [](const std::string& p) { return !Bitmap32::LoadSkinPictureFile(p).isNull(); }},
        {"skin picture by QString",
         [](const std::string& p) { return !Bitmap32::LoadSkinPicture(QString::fromStdString(p)).isNull(); }},
        {"image list",
         [](const std::string& p) {
             return MainInterface::CInterfaceImageList().Load(QString::fromStdString(p), 0);
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

namespace {

// A program folder named in bytes that are not UTF-8 (as a file system may
// hold): the QString form cannot name it, the byte form can.
class ByteNamedSkin : public TestSkin {
public:
    explicit ByteNamedSkin(std::string folder) : folder_(std::move(folder)) {}
    QString GetResFolder() const override { return QString::fromStdString(folder_); }
    std::string GetResFolderPath() const override { return folder_; }

private:
    std::string folder_;
};

}  // namespace

TEST(HostileFiles, SkinPicturesFoundInAFolderNamedOutsideUtf8) {
    TestData::ScratchDir dir;
    const std::string folder = dir / "Progr\xe4mme/Res/";  // Latin-1, not UTF-8
    std::filesystem::create_directories(folder);
    QImage image(6, 3, QImage::Format_ARGB32);
    image.fill(0x80ff0000);
    std::ofstream(folder + "strip.bmp", std::ios::binary) << Bitmap32::Encode(image).toStdString();
    ByteNamedSkin skin(folder);

    const QString path = Skin::ResFolder() + "strip.bmp";
    EXPECT_EQ(Bitmap32::LoadSkinPicture(path).size(), QSize(6, 3));
    EXPECT_EQ(Bitmap32::LoadBitmap32(path).pixel(0, 0), 0x80ff0000u);
    MainInterface::CInterfaceImageList list;
    EXPECT_TRUE(list.LoadStrip({path, path}));
    EXPECT_EQ(list.GetCellSize(), QSize(6, 3));
}

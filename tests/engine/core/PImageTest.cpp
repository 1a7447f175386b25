#include <gtest/gtest.h>

#include <cstring>

#include "DibManager.h"
#include "ImageTestHelpers.h"
#include "PImage.h"

using PanoramaLib::IDib;
using PanoramaLib::PImage;
using namespace ImageTest;

TEST(PImage, StrideAndCreateRules) {
    struct Case {
        int bpp, width, stride;
    };
    for (const Case& c : {Case{24, 5, 16}, Case{8, 5, 8}, Case{8, 4, 4}, Case{24, 1, 4}, Case{24, 4, 12}}) {
        PImage img;
        ASSERT_TRUE(img.Create(c.bpp, c.width, 2, true));
        EXPECT_EQ(img.GetStride(), c.stride) << c.bpp << "x" << c.width;
    }
    PImage img;
    EXPECT_FALSE(img.Create(16, 10, 10, true));
    EXPECT_FALSE(img.Create(24, 0, 10, true));
    EXPECT_FALSE(img.Create(24, 10, -3, true));
    EXPECT_FALSE(img.Create(24, 1 << 30, 1 << 20, true));  // far beyond any buffer: refused, no overflow
    EXPECT_TRUE(img.Create(8, 10, 10, false));
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 10);
    EXPECT_TRUE(img.Create(8, 10, 10, true));   // no pixels yet, so it may still allocate
    EXPECT_FALSE(img.Create(8, 10, 10, true));  // an image is created once
    img.Destroy();
    EXPECT_TRUE(img.Create(24, 3, 3, true));
}

TEST(PImage, FreshPixelsAreZeroAndQueryInterfaceFindsTheObject) {
    ImagePtr img = Made(24, 7, 5);
    for (int i = 0; i < img->GetStride() * img->GetHeight(); ++i)
        ASSERT_EQ(img->GetBits()[i], 0);
    EXPECT_EQ(img->QueryInterface(1), static_cast<OrvexBase::RefCounter*>(static_cast<PImage*>(img.Get())));
    EXPECT_EQ(img->QueryInterface(2), nullptr);
}

TEST(CDibManager, CloneCopiesPixelsNameAndFlag) {
    CDibManager manager;
    ImagePtr src(manager.CreateDib(0));
    ASSERT_TRUE(src->Create(24, 9, 4, true));
    FillPattern(src.Get());
    src->SetFileName(L"/photos/a.jpg");
    ImagePtr copy(manager.CloneDib(src.Get(), 0));
    ASSERT_NE(copy.Get(), nullptr);
    EXPECT_TRUE(SamePixels(src.Get(), copy.Get()));
    EXPECT_NE(copy->GetBits(), src->GetBits());
    EXPECT_EQ(copy->GetFileName(), L"/photos/a.jpg");

    // A source without pixels gives fresh, zeroed pixels of the same size.
    ImagePtr empty(manager.CreateDib(0));
    ASSERT_TRUE(empty->Create(8, 6, 3, false));
    ImagePtr emptyCopy(manager.CloneDib(empty.Get(), 0));
    ASSERT_TRUE(emptyCopy->IsValid());
    EXPECT_EQ(emptyCopy->GetBpp(), 8);
    EXPECT_EQ(emptyCopy->GetWidth(), 6);
    for (int i = 0; i < emptyCopy->GetStride() * 3; ++i)
        ASSERT_EQ(emptyCopy->GetBits()[i], 0);

    // A source of no depth cannot be copied.
    ImagePtr blank(manager.CreateDib(0));
    EXPECT_THROW(manager.CloneDib(blank.Get(), 0), PanoramaLib::dibException);
}

TEST(PImage, FileTitleAndUnload) {
    PImage img;
    EXPECT_EQ(img.GetFileTitle(), L"");
    img.SetFileName(L"/home/u/photo.final.jpg");
    EXPECT_EQ(img.GetFileTitle(), L"photo.final.jpg");
    img.SetFileName(L"name.png");
    EXPECT_EQ(img.GetFileTitle(), L"name.png");

    ImagePtr made = Made(24, 4, 4);
    made->Unload();  // no path: pixels stay
    EXPECT_TRUE(made->IsValid());
    EXPECT_FALSE(made->IsUnloaded());
}

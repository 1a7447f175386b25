// The preview pane's scaled copy belongs to the image it was made from.
#include <gtest/gtest.h>

#include "MatchingTestSupport.h"
#include "PictPreview.h"

using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

TEST(PictPreviewImageChange, ANewImageOfTheSameSizeGetsItsOwnScaledCopy) {
    MatchingTest::UseEngineImages();
    CPictPreview pane;
    pane.resize(200, 150);
    pane.show();
    RefPtr<IPanoElement> dark(MatchingTest::FlatElement(400, 300, 40));
    RefPtr<IPanoElement> light(MatchingTest::FlatElement(400, 300, 220));
    pane.SetImage(dark.Get(), true);
    ASSERT_FALSE(pane.ScaledCopy().isNull());
    EXPECT_EQ(qRed(pane.ScaledCopy().pixel(10, 10)), 40);
    pane.SetImage(light.Get(), true);
    ASSERT_EQ(pane.ScaledCopy().size(), QSize(200, 150));
    EXPECT_EQ(qRed(pane.ScaledCopy().pixel(10, 10)), 220);
}

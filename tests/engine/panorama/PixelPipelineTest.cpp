#include <gtest/gtest.h>

#include <cmath>

#include "Blender.h"
#include "Exposure.h"
#include "PanoramaFixtures.h"
#include "Seams.h"
#include "ThreadPool.h"
#include "Warp.h"

using namespace PanoramaFixtures;
using OrvexBase::Rect;

namespace {

class PixelPipelineTest : public PixelTest {};

// One photo through every step against a result holding another: warp,
// seam mask, exposure balance, pyramid blend, compositing of the rest.
std::vector<std::uint8_t> RunPipeline(int motionModel, bool raw) {
    auto source = MakeElement(260, 180, 0, 0, [](int c, int r, int k) {
        return static_cast<int>(128 + 90 * std::sin(c * 0.07 + k) * std::cos(r * 0.05)) ^ ((c * r) & 7);
    });
    auto result = Uniform(420, 220, 0, 0, 0);
    result->CreateMask(false);
    const double first[9] = {1, 0, -5, 0, 1, -10, 0, 0, 1};
    RefPtr<CPanoElement> placed(WarpPhotoElement(source.Get(), first));
    EXPECT_TRUE(placed);
    CompositeOver(result.Get(), placed.Get(), Rect());

    // The second view: shifted right by 150, turned a little, brighter by the warp's rounding only.
    const double a = 0.02, c = std::cos(a), s = std::sin(a);
    const double second[9] = {c, s, -150 * c - 8 * s, -s, c, 150 * s - 8 * c, 0, 0, 1};
    RefPtr<CPanoElement> warped(WarpPhotoElement(source.Get(), second));
    EXPECT_TRUE(warped);
    SeamSet seams;
    EXPECT_TRUE(ComputeSeamMask(warped.Get(), result.Get(), motionModel, &seams));
    warped->GetSavedMask();
    BalanceExposure(result.Get(), warped.Get(), Rect(0, 0, 260, 180), second, raw);
    LaplacianBlender blender;
    EXPECT_TRUE(blender.Blend(4, warped.Get(), result.Get()));
    blender.WriteResult(result.Get());
    EXPECT_TRUE(CompositeOver(result.Get(), warped.Get(), blender.GetOverlapRect()));
    auto out = Snapshot(result.Get());
    const auto w = Snapshot(warped.Get());
    out.insert(out.end(), w.begin(), w.end());
    return out;
}

TEST_F(PixelPipelineTest, OutputIsTheSameForAnyThreadCount) {
    for (int model : {1, 2})
        for (bool raw : {true, false}) {
            std::vector<std::uint8_t> one, many;
            {
                Platform::ThreadPool pool(1);
                Platform::ThreadPool::ScopedShared use(pool);
                one = RunPipeline(model, raw);
            }
            {
                Platform::ThreadPool pool(5);
                Platform::ThreadPool::ScopedShared use(pool);
                many = RunPipeline(model, raw);
            }
            EXPECT_TRUE(one == many) << "model " << model << " raw " << raw;
        }
}

}  // namespace

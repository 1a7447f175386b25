// Throughput of the pixel row converters on one wide row: the steps a
// photo's rows pass through most often when read.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "PixelRowConverters.h"

using namespace formgate;

namespace {

constexpr std::size_t kWidth = 8000;

std::vector<std::uint8_t> Row(std::size_t bytes) {
    std::vector<std::uint8_t> row(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        row[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return row;
}

void BM_PixelStep(benchmark::State& state, PixelStep step, int pixelType, std::size_t inputPerPixel) {
    const auto in = Row(inputPerPixel * kWidth);
    const auto palette = Row(768);
    std::vector<std::uint8_t> out(OutputColourBytes(pixelType, kWidth) + OutputAlphaBytes(pixelType, kWidth) +
                                  32);
    const std::size_t colour = OutputColourBytes(pixelType, kWidth);
    for (auto _ : state) {
        ConvertPixels(step, in.data(), kWidth, colour, palette.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Unpack(benchmark::State& state, UnpackStep step, std::size_t planeBytes, int planes) {
    const auto in = Row(planeBytes * static_cast<std::size_t>(planes));
    std::vector<std::uint8_t> out(UnpackedBytes(step, kWidth) + 32);
    for (auto _ : state) {
        Unpack(step, in.data(), planeBytes, kWidth, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

}  // namespace

BENCHMARK_CAPTURE(BM_PixelStep, P0_copy24, PixelStep::P0, 16, 3);
BENCHMARK_CAPTURE(BM_PixelStep, P4_rgb_to_bgr, PixelStep::P4, 16, 3);
BENCHMARK_CAPTURE(BM_PixelStep, P3_palette_to_bgr, PixelStep::P3, 16, 1);
BENCHMARK_CAPTURE(BM_PixelStep, P8_rgb48_to_bgr, PixelStep::P8, 16, 6);
BENCHMARK_CAPTURE(BM_PixelStep, P18_rgba_to_bgr, PixelStep::P18, 16, 4);
BENCHMARK_CAPTURE(BM_Unpack, U2_bilevel, UnpackStep::U2, kWidth / 8, 1);
BENCHMARK_CAPTURE(BM_Unpack, U8_planar24, UnpackStep::U8, kWidth, 3);
BENCHMARK_CAPTURE(BM_Unpack, U9_planar48, UnpackStep::U9, 2 * kWidth, 3);

BENCHMARK_MAIN();

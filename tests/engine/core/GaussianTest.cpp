#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "Gaussian.h"

TEST(GaussianKernel, SampledDensityWithoutRenormalising) {
    std::int32_t n = 0;
    std::unique_ptr<double[]> k(MakeGaussianKernel2D(1.0, &n));
    ASSERT_EQ(n, 9);
    EXPECT_NEAR(k[4 * 9 + 4], 1.0 / (2.0 * std::numbers::pi), 1e-15);
    double sum = 0.0;
    for (int i = 0; i < 81; ++i)
        sum += k[i];
    EXPECT_NEAR(sum, 1.0, 1e-3);
    EXPECT_NE(sum, 1.0);  // not renormalised
    EXPECT_EQ(k[0], k[80]);
    EXPECT_EQ(k[2 * 9 + 3], k[3 * 9 + 2]);
    // r = trunc(3.5 sigma + 0.5)
    std::unique_ptr<double[]> k2(MakeGaussianKernel2D(1.5 * std::sqrt(2.0), &n));
    EXPECT_EQ(n, 2 * 7 + 1);
}

TEST(RecursiveGaussian, ConstantPlanesPassUnchanged) {
    for (double sigma : {0.5, 1.0, 3.7, 25.0}) {
        std::vector<double> d(13 * 7, 0.4);
        RecursiveGaussianBlur(13, 7, 13, d.data(), sigma);
        for (double v : d)
            EXPECT_NEAR(v, 0.4, 1e-12) << sigma;
        std::vector<double> high(5 * 5, 1.3);
        RecursiveGaussianBlur(5, 5, 5, high.data(), sigma);
        for (double v : high)
            EXPECT_NEAR(v, 1.0, 1e-12) << sigma;

        std::vector<std::uint8_t> u8(11 * 6, 77);
        RecursiveGaussianBlurU8(11, 6, 11, u8.data(), sigma);
        for (int v : u8)
            EXPECT_EQ(v, 77) << sigma;

        std::vector<std::uint8_t> rgb(12 * 5);
        for (std::size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = std::uint8_t(i % 3 == 0 ? 10 : i % 3 == 1 ? 100 : 250);
        const auto before = rgb;
        RecursiveGaussianBlurU8Ex(4, 5, 12, rgb.data(), sigma);
        EXPECT_EQ(rgb, before) << sigma;

        std::vector<std::uint16_t> u16(9 * 4, 40000);
        RecursiveGaussianBlurU16(9, 4, 9, u16.data(), sigma);
        for (int v : u16)
            EXPECT_EQ(v, 40000) << sigma;
    }
}

// The impulse response keeps its total and spreads with about sigma.
TEST(RecursiveGaussian, ImpulseSpreadsWithSigma) {
    struct Case {
        double sigma, spread;
    };
    for (Case c : {Case{1.0, 0.98}, Case{1.6, 1.66}}) {
        const int n = 201;
        std::vector<double> plane(std::size_t(n) * n, 0.0);
        plane[std::size_t(n / 2) * n + n / 2] = 1.0;
        RecursiveGaussianBlur(n, n, n, plane.data(), c.sigma);
        double total = 0.0, second = 0.0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const double v = plane[std::size_t(y) * n + x];
                total += v;
                second += v * (x - n / 2) * (x - n / 2);
            }
        EXPECT_NEAR(total, 1.0, 1e-4) << c.sigma;
        EXPECT_NEAR(std::sqrt(second / total), c.spread, 0.02) << c.sigma;
    }
}

// The closed-form start of the backward pass equals running the line out
// over a long run of its end values.
TEST(RecursiveGaussian, EndsBehaveAsEndValuePadding) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> value(0.0, 1.0);
    const int pad = 3000;
    for (double sigma : {0.3, 1.0, 2.5, 8.0}) {
        for (int len : {1, 2, 3, 7, 40}) {
            std::vector<double> line(len);
            for (double& v : line)
                v = value(rng);
            std::vector<double> padded(len + 2 * pad);
            for (int i = 0; i < int(padded.size()); ++i)
                padded[i] = line[std::clamp(i - pad, 0, len - 1)];
            RecursiveGaussianBlur(len, 1, len, line.data(), sigma);
            RecursiveGaussianBlur(int(padded.size()), 1, int(padded.size()), padded.data(), sigma);
            for (int i = 0; i < len; ++i)
                EXPECT_NEAR(line[i], padded[pad + i], 1e-12) << sigma << " " << len;
        }
    }
}

// Below the smallest usable sigma (and at 0, negative or NaN) the filter's
// gain would divide by zero; the plane comes back unchanged instead.
TEST(RecursiveGaussian, TinySigmaIsTheIdentity) {
    std::mt19937 rng(5);
    std::vector<double> d(17 * 9);
    std::vector<std::uint8_t> u8(17 * 9);
    std::vector<std::uint16_t> u16(17 * 9);
    for (std::size_t i = 0; i < d.size(); ++i) {
        d[i] = (rng() % 1000) / 999.0;
        u8[i] = std::uint8_t(rng());
        u16[i] = std::uint16_t(rng());
    }
    for (double sigma : {0.0, 0.05, 0.107172375, 0.25 * 0.857379, -2.0, std::nan("")}) {
        auto dd = d;
        auto uu = u8;
        auto ww = u16;
        RecursiveGaussianBlur(17, 9, 17, dd.data(), sigma);
        RecursiveGaussianBlurU8(17, 9, 17, uu.data(), sigma);
        RecursiveGaussianBlurU16(17, 9, 17, ww.data(), sigma);
        EXPECT_EQ(dd, d) << sigma;
        EXPECT_EQ(uu, u8) << sigma;
        EXPECT_EQ(ww, u16) << sigma;
    }
    // Just above the clamp the filter works, and hardly changes anything.
    auto dd = d;
    RecursiveGaussianBlur(17, 9, 17, dd.data(), 0.11);
    for (std::size_t i = 0; i < d.size(); ++i)
        EXPECT_NEAR(dd[i], d[i], 1e-3);
    EXPECT_NE(dd, d);
}

// A one-pixel-wide plane is only filtered along its length: a column and a
// row with the same samples come out the same.
TEST(RecursiveGaussian, ThinPlanesFilterAlongTheirLength) {
    std::vector<double> column(30), row;
    for (int i = 0; i < 30; ++i)
        column[i] = (i * 37 % 11) / 10.0;
    row = column;
    RecursiveGaussianBlur(1, 30, 1, column.data(), 2.0);
    RecursiveGaussianBlur(30, 1, 30, row.data(), 2.0);
    for (int i = 0; i < 30; ++i)
        EXPECT_NEAR(column[i], row[i], 1e-14);
    EXPECT_GT(std::fabs(column[5] - (5 * 37 % 11) / 10.0), 0.01);  // it did smooth
}

// Each channel of the colour variant is filtered like its own grey plane,
// with rows padded beyond the pixels left alone.
TEST(RecursiveGaussian, ColourChannelsFilterLikeGreyPlanes) {
    const int w = 23, h = 14, stride = 72;  // padded rows
    std::mt19937 rng(9);
    std::vector<std::uint8_t> rgb(std::size_t(stride) * h);
    for (auto& v : rgb)
        v = std::uint8_t(rng());
    std::vector<std::vector<std::uint8_t>> planes(3, std::vector<std::uint8_t>(std::size_t(w) * h));
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                planes[c][std::size_t(y) * w + x] = rgb[std::size_t(y) * stride + 3 * x + c];
    const auto before = rgb;
    RecursiveGaussianBlurU8Ex(w, h, stride, rgb.data(), 1.7);
    for (int c = 0; c < 3; ++c) {
        RecursiveGaussianBlurU8(w, h, w, planes[c].data(), 1.7);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(rgb[std::size_t(y) * stride + 3 * x + c], planes[c][std::size_t(y) * w + x]) << c;
    }
    for (int y = 0; y < h; ++y)
        for (int i = 3 * w; i < stride; ++i)
            EXPECT_EQ(rgb[std::size_t(y) * stride + i], before[std::size_t(y) * stride + i]);
}

// Integer variants round to nearest and stay in range across a hard edge,
// where the filter's overshoot would leave it.
TEST(RecursiveGaussian, IntegerVariantsClampTheirRange) {
    std::vector<std::uint8_t> u8(40 * 3);
    std::vector<std::uint16_t> u16(40 * 3);
    std::vector<double> d(40 * 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 40; ++x) {
            u8[y * 40 + x] = x < 20 ? 0 : 255;
            u16[y * 40 + x] = x < 20 ? 0 : 65535;
            d[y * 40 + x] = x < 20 ? 0.0 : 1.0;
        }
    RecursiveGaussianBlurU8(40, 3, 40, u8.data(), 3.0);
    RecursiveGaussianBlurU16(40, 3, 40, u16.data(), 3.0);
    RecursiveGaussianBlur(40, 3, 40, d.data(), 3.0);
    for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(u8[x], static_cast<int>(std::nearbyint(std::clamp(d[x] * 255.0, 0.0, 255.0)))) << x;
        EXPECT_GE(d[x], 0.0);
        EXPECT_LE(d[x], 1.0);
    }
    EXPECT_EQ(u8[0], 0);
    EXPECT_EQ(u8[39], 255);
    for (int x = 1; x < 40; ++x)
        EXPECT_GE(u16[x], u16[x - 1]);
}

#pragma once
// The one place where the compositing steps call the recursive Gaussian.

#include <cstdint>

// 8-bit grey plane, smoothed in place.
void SmoothGreyPlane(std::int32_t width, std::int32_t height, std::int32_t stride, std::uint8_t* samples,
                     double sigma);
// 24-bit pixels, each channel on its own; stride in bytes.
void SmoothColourPlane(std::int32_t width, std::int32_t height, std::int32_t stride, std::uint8_t* samples,
                       double sigma);

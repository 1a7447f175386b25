#pragma once
// Gaussian smoothing: a sampled 2-D kernel (the detector's orientation window)
// and a third-order recursive Gaussian that smooths planes in place in a time
// independent of sigma. The recursive filter comes in one variant per sample
// type; each filters every column, then every row, treating a line as if it
// went on beyond both ends with its end values.

#include <cstdint>

// The n x n kernel (n = 2 trunc(3.5 sigma + 0.5) + 1), row-major, the values of
// the continuous 2-D Gaussian density at integer offsets (not renormalised).
// The caller owns the array (delete[]). n goes to *size when size is given.
double* MakeGaussianKernel2D(double sigma, std::int32_t* size = nullptr);

// Strides count samples of the plane's type. Sigma below 0.107172375 (and 0,
// negative or NaN) leaves the plane as it is, apart from the output clamp.
// Doubles; every pass clamps its output to [0, 1].
void RecursiveGaussianBlur(std::int32_t width, std::int32_t height, std::int32_t stride, double* samples,
                           double sigma);
// 8-bit grey; outputs rounded to nearest (ties to even) and clamped.
void RecursiveGaussianBlurU8(std::int32_t width, std::int32_t height, std::int32_t stride,
                             std::uint8_t* samples, double sigma);
// 24-bit pixels, each of the three channels on its own; stride in bytes.
void RecursiveGaussianBlurU8Ex(std::int32_t width, std::int32_t height, std::int32_t stride,
                               std::uint8_t* samples, double sigma);
// 16-bit grey; outputs rounded to nearest and clamped to [0, 65535].
void RecursiveGaussianBlurU16(std::int32_t width, std::int32_t height, std::int32_t stride,
                              std::uint16_t* samples, double sigma);

// As copying source to target and blurring target in place with
// RecursiveGaussianBlur, without the copy. The planes must not overlap.
void RecursiveGaussianBlurInto(std::int32_t width, std::int32_t height, std::int32_t stride,
                               const double* source, double* target, double sigma);

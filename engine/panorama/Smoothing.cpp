#include "Smoothing.h"

#include "Gaussian.h"

void SmoothGreyPlane(std::int32_t width, std::int32_t height, std::int32_t stride, std::uint8_t* samples,
                     double sigma) {
    RecursiveGaussianBlurU8(width, height, stride, samples, sigma);
}

void SmoothColourPlane(std::int32_t width, std::int32_t height, std::int32_t stride, std::uint8_t* samples,
                       double sigma) {
    RecursiveGaussianBlurU8Ex(width, height, stride, samples, sigma);
}

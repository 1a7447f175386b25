#include "TiledImagePose.h"

#include <cmath>
#include <limits>

namespace {
constexpr double kPi = 3.141592653589793;
}

void RotationFromAngles(double out[9], double pitch, double yaw, double roll) {
    const double x = pitch * kPi / 180.0, y = yaw * kPi / 180.0, z = roll * kPi / 180.0;
    const double cx = std::cos(x), sx = std::sin(x);
    const double cy = std::cos(y), sy = std::sin(y);
    const double cz = std::cos(z), sz = std::sin(z);
    // Rx Ry first, then Rz on the left.
    const double rxry[9] = {cy, 0.0, -sy, sx * sy, cx, sx * cy, cx * sy, -sx, cx * cy};
    const double rz[9] = {cz, sz, 0.0, -sz, cz, 0.0, 0.0, 0.0, 1.0};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[3 * i + j] = rz[3 * i] * rxry[j] + rz[3 * i + 1] * rxry[3 + j] + rz[3 * i + 2] * rxry[6 + j];
}

// Repeated adding or subtracting of 360 never ends for infinities and takes
// ages for huge values; fmod gives the same angle at once.
double WrapAngleClosed(double degrees) {
    if (!std::isfinite(degrees))
        return std::numeric_limits<double>::quiet_NaN();
    if (degrees > 180.0 || degrees < -180.0) {
        degrees = std::fmod(degrees, 360.0);
        if (degrees > 180.0)
            degrees -= 360.0;
        else if (degrees < -180.0)
            degrees += 360.0;
    }
    return degrees;
}

double WrapLongitude(double degrees) {
    if (!std::isfinite(degrees))
        return std::numeric_limits<double>::quiet_NaN();
    if (degrees <= -180.0 || degrees >= 180.0) {
        degrees = std::fmod(degrees, 360.0);
        if (degrees < -180.0)
            degrees += 360.0;
        if (degrees >= 180.0)
            degrees -= 360.0;
    }
    return degrees;
}

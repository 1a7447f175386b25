#pragma once
// The camera pose of one photo of the tiled model, and the rotation built from
// its angles. The alignment, the lens models and the projection surfaces all
// use these, so that a match aligned by the fit lands where it is rendered.

#include <cstdint>

struct TiledImagePose {
    double focal = 0.0;  // pixels of the photo
    double pitch = 0.0;  // degrees, about the x axis
    double yaw = 0.0;    // degrees, about the y axis
    double roll = 0.0;   // degrees, about the z axis
    // The lens coefficients below take part in the alignment and the render.
    std::uint8_t hasOwnLens = 0;
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
};

// Row-major 3x3 rotation Rz Rx Ry (angles in degrees) mapping panorama
// directions into the photo's camera frame: pixel (x, y) centred, optical axis
// along +z.
void RotationFromAngles(double out[9], double pitch, double yaw, double roll);

// Brings an angle into [-180, 180] by whole turns; 180 and -180 stay. Works on
// any finite value in constant time; non-finite values come back as NaN.
double WrapAngleClosed(double degrees);
// Brings a longitude into [-180, 180) by whole turns (180 becomes -180);
// non-finite values come back as NaN.
double WrapLongitude(double degrees);

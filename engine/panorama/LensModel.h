#pragma once
// Radial lens distortion of the tiled model. Two polynomials map an observed
// offset from the photo centre to its corrected offset; a build picks one for
// its alignment, and the surface bounds and renders of its poses use it too.

#include <atomic>
#include <cstdint>

#include "TiledImagePose.h"

// 1 selects the quartic model r (1 + a r^2 + b r^4), any other value the cubic
// model r (1 + b r^2 + c r^3). The tiled model's option, written by its
// SetOptions: a build reads it once when it starts and keeps that value with
// the poses it fits (CPoseAlignment::lensModel), so that a later change
// waits for the next build. Atomic so that no read is ever torn.
extern std::atomic<std::int32_t> g_nLensModel;

// The factor that scales an observed offset at squared radius r2 into its
// corrected position, for the given model.
double LensFactor(std::int32_t model, const TiledImagePose& lens, double r2);

// Given a corrected offset (x, y), find the photo offset whose corrected
// position it is, by Newton's method on the radius (at most 100 steps, absolute
// tolerance 1e-6 px). True when the tolerance was met; the outputs are written
// in every case. The centre maps to itself; a vanishing derivative or a
// non-finite iterate ends the search with false, and so does a root at a
// negative radius (the mirrored point).
bool InvertLensModelQuartic(double* outX, double* outY, const TiledImagePose* rec, double x, double y);
bool InvertLensModelCubic(double* outX, double* outY, const TiledImagePose* rec, double x, double y);

// How far from the centre the model (1: quartic in a, b; else cubic in b, c)
// takes a point at most `radius` from it, when the model grows steadily over
// that reach, with a margin above the inverses' tolerance: an offset further
// out than this cannot come from within `radius`, whatever the inverse
// returns for it. Infinity when the model does not grow steadily there (or
// its coefficients are not finite): then no offset can be ruled out.
double LensModelReach(std::int32_t model, const TiledImagePose& lens, double radius);

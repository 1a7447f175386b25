#include "LensModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::atomic<std::int32_t> g_nLensModel{1};

double LensFactor(std::int32_t model, const TiledImagePose& lens, double r2) {
    if (model == 1)
        return 1.0 + r2 * (lens.a + lens.b * r2);
    return 1.0 + r2 * (lens.b + lens.c * std::sqrt(r2));
}

namespace {

constexpr double kTolerance = 1e-6;
constexpr int kMaxSteps = 100;

struct Quartic {
    double a, b;
    double F(double r) const {
        const double r2 = r * r;
        return r * (1.0 + r2 * (a + b * r2));
    }
    double dF(double r) const {
        const double r2 = r * r;
        return 1.0 + r2 * (3.0 * a + 5.0 * b * r2);
    }
};

struct Cubic {
    double b, c;
    double F(double r) const { return r * (1.0 + r * r * (b + c * r)); }
    double dF(double r) const { return 1.0 + r * r * (3.0 * b + 4.0 * c * r); }
};

template <class Model>
bool Invert(const Model& model, double* outX, double* outY, double x, double y) {
    const double R = std::sqrt(x * x + y * y);
    // At the exact centre the ratio r / R is undefined; the centre is fixed by
    // every radial model.
    if (R == 0.0) {
        *outX = x;
        *outY = y;
        return true;
    }
    double r = R;
    double e = model.F(r) - R;
    bool ok = std::isfinite(e);
    for (int step = 0; ok && std::fabs(e) > kTolerance && step < kMaxSteps; ++step) {
        const double d = model.dF(r);
        // A flat or non-finite derivative would throw the iterate to infinity.
        if (d == 0.0 || !std::isfinite(d)) {
            ok = false;
            break;
        }
        const double next = r - e / d;
        const double nextE = model.F(next) - R;
        if (!std::isfinite(next) || !std::isfinite(nextE)) {
            ok = false;
            break;
        }
        r = next;
        e = nextE;
    }
    const double s = r / R;
    *outX = s * x;
    *outY = s * y;
    // A negative radius solves the odd polynomial too, but it is the point
    // mirrored through the centre, not the photo position.
    return ok && std::fabs(e) <= kTolerance && r >= 0.0;
}

}  // namespace

bool InvertLensModelQuartic(double* outX, double* outY, const TiledImagePose* rec, double x, double y) {
    return Invert(Quartic{rec->a, rec->b}, outX, outY, x, y);
}

bool InvertLensModelCubic(double* outX, double* outY, const TiledImagePose* rec, double x, double y) {
    return Invert(Cubic{rec->b, rec->c}, outX, outY, x, y);
}

double LensModelReach(std::int32_t model, const TiledImagePose& lens, double radius) {
    constexpr double kUnbounded = std::numeric_limits<double>::infinity();
    if (!(radius >= 0.0) || !std::isfinite(radius))
        return kUnbounded;
    // The derivative, a polynomial in r, must stay positive on [0, radius]:
    // checked at both ends and at its one turning point inside.
    double lowest;
    double reach;
    if (model == 1) {
        const Quartic q{lens.a, lens.b};
        // dF = 1 + 3a s + 5b s^2 in s = r^2; it turns at s = -3a / 10b.
        const double S = radius * radius;
        lowest = std::min(1.0, q.dF(radius));
        if (lens.b != 0.0) {
            const double turn = -3.0 * lens.a / (10.0 * lens.b);
            if (turn > 0.0 && turn < S)
                lowest = std::min(lowest, q.dF(std::sqrt(turn)));
        }
        reach = q.F(radius);
    } else {
        const Cubic c{lens.b, lens.c};
        // dF = 1 + 3b r^2 + 4c r^3 turns at r = -b / 2c.
        lowest = std::min(1.0, c.dF(radius));
        if (lens.c != 0.0) {
            const double turn = -lens.b / (2.0 * lens.c);
            if (turn > 0.0 && turn < radius)
                lowest = std::min(lowest, c.dF(turn));
        }
        reach = c.F(radius);
    }
    if (!(lowest > 0.0) || !std::isfinite(reach))
        return kUnbounded;
    return reach + 1e-3 + std::fabs(reach) * 1e-9;
}

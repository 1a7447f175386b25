#include "LensModel.h"

#include <cmath>

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

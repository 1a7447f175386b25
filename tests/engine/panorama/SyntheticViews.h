#pragma once
// Ground truth for the tiled model: pinhole views of a photo at known camera
// poses, and exact correspondences between posed photos, built in code.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "PanoElement.h"
#include "TiledAlignment.h"
#include "TiledImagePose.h"

namespace Synthetic {

// Centred pixel (u, v) of a posed photo -> ray in the panorama frame.
inline void PixelToRay(const TiledImagePose& pose, double u, double v, double ray[3]) {
    double R[9];
    RotationFromAngles(R, pose.pitch, pose.yaw, pose.roll);
    for (int i = 0; i < 3; ++i)
        ray[i] = R[i] * u + R[3 + i] * v + R[6 + i] * pose.focal;
}

// Ray in the panorama frame -> centred pixel of a posed photo; false behind it.
inline bool RayToPixel(const TiledImagePose& pose, const double ray[3], double& u, double& v) {
    double R[9];
    RotationFromAngles(R, pose.pitch, pose.yaw, pose.roll);
    const double X = R[0] * ray[0] + R[1] * ray[1] + R[2] * ray[2];
    const double Y = R[3] * ray[0] + R[4] * ray[1] + R[5] * ray[2];
    const double Z = R[6] * ray[0] + R[7] * ray[1] + R[8] * ray[2];
    if (Z <= 0)
        return false;
    u = pose.focal * X / Z;
    v = pose.focal * Y / Z;
    return true;
}

// Double-precision bilinear sample of a 24-bit element; false outside.
inline bool Sample(const CPanoElement& image, double x, double y, double out[3]) {
    if (!(x >= 0 && y >= 0 && x < image.GetWidth() - 1 && y < image.GetHeight() - 1))
        return false;
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const double fx = x - x0, fy = y - y0;
    const std::uint8_t* p00 = image.GetBits() + static_cast<std::ptrdiff_t>(y0) * image.GetStride() + 3 * x0;
    const std::uint8_t* p01 = p00 + image.GetStride();
    for (int k = 0; k < 3; ++k)
        out[k] = p00[k] * (1 - fx) * (1 - fy) + p00[3 + k] * fx * (1 - fy) + p01[k] * (1 - fx) * fy +
                 p01[3 + k] * fx * fy;
    return true;
}

// A view of `source` (seen by an identity pose with focal sourceFocal) from
// `pose`, width x height pixels; pixels outside the source are black. With
// lensA, the view shows the radial distortion whose quartic correction factor
// is 1 + lensA r^2: each observed offset is corrected before it becomes a ray.
inline CPanoElement* RenderView(const CPanoElement& source, double sourceFocal, const TiledImagePose& pose,
                                int width, int height, double lensA = 0.0) {
    auto* view = new CPanoElement(0);
    view->CreateImage(true, width, height, true);
    TiledImagePose sourcePose;
    sourcePose.focal = sourceFocal;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = view->GetBits() + static_cast<std::ptrdiff_t>(y) * view->GetStride();
        for (int x = 0; x < width; ++x) {
            double ray[3], u, v, colour[3] = {0, 0, 0};
            const double ox = x - width / 2, oy = y - height / 2;
            const double factor = 1.0 + lensA * (ox * ox + oy * oy);
            PixelToRay(pose, factor * ox, factor * oy, ray);
            if (RayToPixel(sourcePose, ray, u, v))
                Sample(source, u + source.GetWidth() / 2, v + source.GetHeight() / 2, colour);
            for (int k = 0; k < 3; ++k)
                row[3 * x + k] = static_cast<std::uint8_t>(std::lround(colour[k]));
        }
    }
    return view;
}

// Least-squares affine transform mapping points a to points b (row-major 3x3).
inline void FitAffine(const std::vector<Tiled_Panorama::AlignmentPoint>& a,
                      const std::vector<Tiled_Panorama::AlignmentPoint>& b, double H[9]) {
    double N[3][3] = {}, rx[3] = {}, ry[3] = {};
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double p[3] = {a[i].x, a[i].y, 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                N[r][c] += p[r] * p[c];
            rx[r] += p[r] * b[i].x;
            ry[r] += p[r] * b[i].y;
        }
    }
    auto solve = [&N](const double rhs[3], double out[3]) {
        const double det = N[0][0] * (N[1][1] * N[2][2] - N[1][2] * N[2][1]) -
                           N[0][1] * (N[1][0] * N[2][2] - N[1][2] * N[2][0]) +
                           N[0][2] * (N[1][0] * N[2][1] - N[1][1] * N[2][0]);
        for (int k = 0; k < 3; ++k) {
            double M[3][3];
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    M[r][c] = c == k ? rhs[r] : N[r][c];
            out[k] = (M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
                      M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
                      M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0])) /
                     det;
        }
    };
    solve(rx, H);
    solve(ry, H + 3);
    H[6] = H[7] = 0.0;
    H[8] = 1.0;
}

// Exact matches between posed photos: keypoints on a grid of each photo that
// land inside another photo; one edge per pair with at least minMatches,
// carrying the affine fit of its matches. Gaussian noise of `noise` pixels is
// added to the second photo's keypoints.
struct Correspondences {
    std::vector<std::vector<Tiled_Panorama::AlignmentPoint>> keypoints;
    std::vector<Tiled_Panorama::AlignmentEdge> edges;
};

inline Correspondences MakeCorrespondences(const std::vector<TiledImagePose>& poses,
                                           const std::vector<OrvexBase::Size>& sizes, int gridStep,
                                           int minMatches = 20, double noise = 0.0, unsigned seed = 1) {
    Correspondences out;
    out.keypoints.resize(poses.size());
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, noise > 0 ? noise : 1.0);
    for (std::size_t i = 0; i < poses.size(); ++i) {
        for (std::size_t j = i + 1; j < poses.size(); ++j) {
            Tiled_Panorama::AlignmentEdge edge;
            edge.firstImage = static_cast<std::int32_t>(i);
            edge.secondImage = static_cast<std::int32_t>(j);
            std::vector<Tiled_Panorama::AlignmentPoint> from, to;
            for (int y = gridStep / 2; y < sizes[i].cy; y += gridStep) {
                for (int x = gridStep / 2; x < sizes[i].cx; x += gridStep) {
                    double ray[3], u, v;
                    PixelToRay(poses[i], x - sizes[i].cx * 0.5, y - sizes[i].cy * 0.5, ray);
                    if (!RayToPixel(poses[j], ray, u, v))
                        continue;
                    double xj = u + sizes[j].cx * 0.5, yj = v + sizes[j].cy * 0.5;
                    if (xj < 1 || yj < 1 || xj > sizes[j].cx - 2 || yj > sizes[j].cy - 2)
                        continue;
                    if (noise > 0) {
                        xj += gauss(random);
                        yj += gauss(random);
                    }
                    from.push_back({double(x), double(y)});
                    to.push_back({xj, yj});
                }
            }
            if (static_cast<int>(from.size()) < minMatches)
                continue;
            for (std::size_t k = 0; k < from.size(); ++k) {
                edge.inliers1.push_back(static_cast<std::int32_t>(out.keypoints[i].size()));
                out.keypoints[i].push_back(from[k]);
                edge.inliers2.push_back(static_cast<std::int32_t>(out.keypoints[j].size()));
                out.keypoints[j].push_back(to[k]);
                edge.inlierScores.push_back(0);
            }
            edge.inlierCount = static_cast<std::int32_t>(from.size());
            FitAffine(from, to, edge.transform);
            out.edges.push_back(std::move(edge));
        }
    }
    return out;
}

inline TiledImagePose Pose(double focal, double pitch, double yaw, double roll) {
    TiledImagePose pose;
    pose.focal = focal;
    pose.pitch = pitch;
    pose.yaw = yaw;
    pose.roll = roll;
    return pose;
}

// The angle (degrees) between photo i's rotation relative to photo 0 in two
// pose lists. Every pose's angles are fit parameters, the reference's too, so
// a fit is fixed only up to one common rotation: this is what the surfaces
// render.
inline double RelativeTurnError(const std::vector<TiledImagePose>& got,
                                const std::vector<TiledImagePose>& want, int i) {
    auto relative = [](const std::vector<TiledImagePose>& poses, int k, double out[9]) {
        double R0[9], Rk[9];
        RotationFromAngles(R0, poses[0].pitch, poses[0].yaw, poses[0].roll);
        RotationFromAngles(Rk, poses[k].pitch, poses[k].yaw, poses[k].roll);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                out[3 * r + c] =
                    Rk[3 * r] * R0[3 * c] + Rk[3 * r + 1] * R0[3 * c + 1] + Rk[3 * r + 2] * R0[3 * c + 2];
    };
    double A[9], B[9];
    relative(got, i, A);
    relative(want, i, B);
    double trace = 0;  // of A B^T
    for (int k = 0; k < 9; ++k)
        trace += A[k] * B[k];
    return std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)) * 180 / 3.141592653589793;
}

}  // namespace Synthetic

#include "Surfaces.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "LensModel.h"

using OrvexBase::Rect;
using PanoramaLib::IPanoElement;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kDegreesPerRadian = 57.29577951308232;

bool UsablePose(const TiledImagePose& pose) {
    return std::isfinite(pose.focal) && pose.focal > 0.0;
}

}  // namespace

CSurfaceRendering::~CSurfaceRendering() = default;

CCylindricalSurface::CCylindricalSurface()
    : compose(&CCylindricalSurface::ComposePhoto), sampler(&CCylindricalSurface::SampleBilinear) {
    ResetBounds();
}

CCylindricalSurface::~CCylindricalSurface() {
    ReleaseResult();
}

void CCylindricalSurface::SetImages(const std::vector<std::int32_t>& indices,
                                    const TiledImagePose& sharedLens,
                                    const std::vector<TiledImagePose>& poses,
                                    const std::vector<IPanoElement*>& elements,
                                    const std::vector<IPanoElement*>& proxies) {
    const bool withProxies = proxies.size() == elements.size();
    for (std::int32_t i : indices) {
        if (i < 0 || static_cast<std::size_t>(i) >= elements.size() ||
            static_cast<std::size_t>(i) >= poses.size())
            continue;
        TiledImagePose photoPose = poses[i];
        if (sharedLens.hasOwnLens) {
            photoPose.hasOwnLens = sharedLens.hasOwnLens;
            photoPose.a = sharedLens.a;
            photoPose.b = sharedLens.b;
            photoPose.c = sharedLens.c;
        }
        AddImage(elements[i], photoPose, withProxies ? proxies[i] : nullptr);
    }
}

void CCylindricalSurface::AddImage(IPanoElement* element, const TiledImagePose& photoPose,
                                   IPanoElement* proxy) {
    if (!element)
        return;
    SurfaceImage image;
    image.element = element;
    image.proxy = proxy;
    image.pose = photoPose;
    images.push_back(std::move(image));
}

void CCylindricalSurface::SelectReference(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= images.size())
        return;
    // The alignment levels its poses: the surface takes the reference photo's
    // heading on that level frame, so that the horizon stays straight and
    // the user's elevation and tilt start from level, whatever the tilt of
    // the reference photo itself.
    const TiledImagePose& ref = images[index].pose;
    pose.pitch = 0.0;
    pose.yaw = ref.yaw;
    pose.roll = 0.0;
    pose.a = ref.a;
    pose.b = ref.b;
    pose.c = ref.c;
}

void CCylindricalSurface::AddAngleOffsets(std::int32_t pitch, std::int32_t yaw, std::int32_t roll) {
    angleOffsets[0] = pitch;
    angleOffsets[1] = yaw;
    angleOffsets[2] = roll;
    pose.pitch += pitch;
    pose.yaw += yaw;
    pose.roll += roll;
}

void CCylindricalSurface::SetInterpolation(std::int32_t mode) {
    sampler = mode == 1 ? &CCylindricalSurface::SampleBilinear : &CCylindricalSurface::SampleNearest;
}

void CCylindricalSurface::SetCrop(const Rect& rect, std::int32_t referenceWidth) {
    cropRequested = true;
    cropRect = rect;
    cropReferenceWidth = referenceWidth;
}

IPanoElement* CCylindricalSurface::GetResult() {
    if (!result)
        return nullptr;
    result->AddRef();
    return result;
}

void CCylindricalSurface::ReleaseResult() {
    if (result)
        result->Release();
    result = nullptr;
}

void CCylindricalSurface::ReleaseWarped() {
    for (SurfaceImage& image : images)
        image.warped.Reset();
}

void CCylindricalSurface::ClearImages() {
    images.clear();
}

double CCylindricalSurface::Radius(double x, double, double z) const {
    return std::sqrt(x * x + z * z);
}

double CCylindricalSurface::Elevation(double x, double y, double z) const {
    return y / std::sqrt(x * x + z * z);
}

void CCylindricalSurface::ConvertElevationBounds(double&, double&) const {}

void CCylindricalSurface::SetOutputSize(double width, double height) {
    // Photos near the pole stretch the cylinder without bound and a diverged
    // pose gives any size at all: only sizes that can be allocated pass.
    const bool ok = std::isfinite(width) && std::isfinite(height) && width >= 0 && height >= 0 &&
                    width <= kMaxOutputSide && height <= kMaxOutputSide &&
                    static_cast<std::int64_t>(width) * static_cast<std::int64_t>(height) <= kMaxOutputArea;
    outWidth = ok ? static_cast<std::int32_t>(width) : 0;
    outHeight = ok ? static_cast<std::int32_t>(height) : 0;
}

void CCylindricalSurface::ComputeOutputSize() {
    const double F = pose.focal;
    originRow = hMin * F;
    SetOutputSize(std::trunc((lonMax - lonMin) * F * kTwoPi / 360.0 + 0.5),
                  std::trunc((hMax - hMin) * F + 0.5));
}

void CCylindricalSurface::ImageRows(const SurfaceImage& photo, double& top, double& bottom) const {
    top = photo.hMin * pose.focal - originRow;
    bottom = photo.hMax * pose.focal - originRow;
}

double CCylindricalSurface::FocalForPixels(std::int32_t n) const {
    if (outHeight < outWidth)
        return n / (hMax - hMin);
    return n * 360.0 / ((lonMax - lonMin) * kTwoPi);
}

double CCylindricalSurface::RowDirection(std::int32_t row) const {
    return (row + originRow) / pose.focal;
}

void CCylindricalSurface::ResetBounds() {
    lonMin = hMin = std::numeric_limits<double>::max();
    lonMax = hMax = -std::numeric_limits<double>::max();
}

void CCylindricalSurface::BuildPhotoMatrices() {
    double Rs[9];
    RotationFromAngles(Rs, pose.pitch, pose.yaw, pose.roll);
    for (SurfaceImage& image : images) {
        double Ri[9], P[9];
        RotationFromAngles(Ri, image.pose.pitch, image.pose.yaw, image.pose.roll);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                P[3 * i + j] =
                    Rs[3 * i] * Ri[3 * j] + Rs[3 * i + 1] * Ri[3 * j + 1] + Rs[3 * i + 2] * Ri[3 * j + 2];
        const double f = image.pose.focal;
        for (int i = 0; i < 3; ++i) {
            image.forward[3 * i] = P[3 * i] / f;
            image.forward[3 * i + 1] = P[3 * i + 1] / f;
            image.forward[3 * i + 2] = P[3 * i + 2];
            const double rowScale = i < 2 ? f : 1.0;
            for (int j = 0; j < 3; ++j)
                image.inverse[3 * i + j] = rowScale * P[3 * j + i];
        }
    }
}

void CCylindricalSurface::ComputeNaturalFocal() {
    double F = 0.0;
    for (const SurfaceImage& image : images) {
        if (!UsablePose(image.pose))
            continue;
        const double f = image.pose.focal;
        F = std::max(F, Radius(f * image.forward[2], f * image.forward[5], f * image.forward[8]));
    }
    pose.focal = F;
}

void CCylindricalSurface::ComputeBounds() {
    ResetBounds();
    const std::int32_t model = lensModel;
    for (SurfaceImage& image : images) {
        image.rect = Rect();
        if (!UsablePose(image.pose))
            continue;
        const double hw = image.element->GetWidth() * 0.5, hh = image.element->GetHeight() * 0.5;
        const double border[16][2] = {{-hw, -hh},    {-hw / 2, -hh}, {0, -hh},       {hw / 2, -hh},
                                      {hw, -hh},     {-hw, hh},      {-hw / 2, hh},  {0, hh},
                                      {hw / 2, hh},  {hw, hh},       {-hw, -hh / 2}, {-hw, 0},
                                      {-hw, hh / 2}, {hw, -hh / 2},  {hw, 0},        {hw, hh / 2}};
        bool first = true;
        bool acrossSeam = false;
        const double centreLon = std::atan2(image.forward[2], image.forward[8]);
        for (const auto& point : border) {
            double u = point[0], v = point[1];
            if (image.pose.hasOwnLens) {
                const double factor = LensFactor(model, image.pose, u * u + v * v);
                u *= factor;
                v *= factor;
            }
            const double* F = image.forward;
            const double dx = F[0] * u + F[1] * v + F[2];
            const double dy = F[3] * u + F[4] * v + F[5];
            const double dz = F[6] * u + F[7] * v + F[8];
            const double lon = std::atan2(dx, dz);
            const double h = Elevation(dx, dy, dz);
            // The border point's longitude seen from the photo's centre,
            // without the wrap: past +-pi it lies beyond the seam.
            double fromCentre = lon - centreLon;
            if (fromCentre > kPi)
                fromCentre -= kTwoPi;
            else if (fromCentre < -kPi)
                fromCentre += kTwoPi;
            if (std::fabs(centreLon + fromCentre) > kPi)
                acrossSeam = true;
            if (first) {
                image.lonMin = image.lonMax = lon;
                image.hMin = image.hMax = h;
                first = false;
                continue;
            }
            if (lon < image.lonMin)
                image.lonMin = lon;
            if (lon > image.lonMax)
                image.lonMax = lon;
            if (h < image.hMin)
                image.hMin = h;
            if (h > image.hMax)
                image.hMax = h;
        }
        image.lonMin = WrapLongitude(image.lonMin * kDegreesPerRadian);
        image.lonMax = WrapLongitude(image.lonMax * kDegreesPerRadian);
        // A photo reaching across the -180/180 degree seam: its sampled
        // border points only approach the seam from both sides, which left
        // the strip short of a full turn. Its columns are the whole strip
        // (the warp keeps only the pixels that fall inside the photo).
        if (acrossSeam) {
            image.lonMin = -180.0;
            image.lonMax = 180.0;
        }
        ConvertElevationBounds(image.hMin, image.hMax);
        lonMin = std::min(lonMin, image.lonMin);
        lonMax = std::max(lonMax, image.lonMax);
        hMin = std::min(hMin, image.hMin);
        hMax = std::max(hMax, image.hMax);
    }
    ComputeOutputSize();

    const double F = pose.focal;
    for (SurfaceImage& image : images) {
        if (!UsablePose(image.pose))
            continue;
        const double x0 = (image.lonMin - lonMin) * F * kPi / 180.0;
        const double x1 = (image.lonMax - lonMin) * F * kPi / 180.0;
        double y0 = 0.0, y1 = 0.0;
        ImageRows(image, y0, y1);
        // Clamped as doubles first: a NaN or huge bound must not reach an int.
        auto clampTo = [](double v, double hi) { return std::isfinite(v) ? std::clamp(v, 0.0, hi) : 0.0; };
        const double w = outWidth, h = outHeight;
        image.rect.left = static_cast<std::int32_t>(clampTo(std::floor(std::min(x0, x1)), w));
        image.rect.right = static_cast<std::int32_t>(clampTo(std::ceil(std::max(x0, x1)), w));
        image.rect.top = static_cast<std::int32_t>(clampTo(std::floor(std::min(y0, y1)), h));
        image.rect.bottom = static_cast<std::int32_t>(clampTo(std::ceil(std::max(y0, y1)), h));
    }
}

void CCylindricalSurface::BuildDirectionTables() {
    const std::int32_t w = std::max(0, outRect.Width()), h = std::max(0, outRect.Height());
    sinTable.reset(new double[std::max(w, 1)]);
    cosTable.reset(new double[std::max(w, 1)]);
    rowTable.reset(new double[std::max(h, 1)]);
    const double F = pose.focal;
    for (std::int32_t i = 0; i < w; ++i) {
        const double lon = ((outRect.left + i) * 180.0 / (F * kPi) + lonMin) * kPi / 180.0;
        sinTable[i] = std::sin(lon);
        cosTable[i] = std::cos(lon);
    }
    for (std::int32_t i = 0; i < h; ++i)
        rowTable[i] = RowDirection(outRect.top + i);
}

void CCylindricalSurface::FreeDirectionTables() {
    sinTable.reset();
    cosTable.reset();
    rowTable.reset();
}

void CCylindricalSurface::PixelToDirection(std::int32_t column, std::int32_t row, double& x, double& y,
                                           double& z) {
    if (!sinTable)
        BuildDirectionTables();
    const std::int32_t c = column - outRect.left, r = row - outRect.top;
    x = sinTable[c];
    y = rowTable[r];
    z = cosTable[c];
}

// The sphere.

CSphericalSurface::~CSphericalSurface() = default;

double CSphericalSurface::Radius(double x, double y, double z) const {
    return std::sqrt(x * x + y * y + z * z);
}

double CSphericalSurface::Elevation(double x, double y, double z) const {
    return std::atan2(y, std::sqrt(x * x + z * z));
}

void CSphericalSurface::ConvertElevationBounds(double& minimum, double& maximum) const {
    minimum = WrapLongitude(minimum * kDegreesPerRadian);
    maximum = WrapLongitude(maximum * kDegreesPerRadian);
}

void CSphericalSurface::ComputeOutputSize() {
    const double F = pose.focal;
    SetOutputSize(std::trunc((lonMax - lonMin) * F * kTwoPi / 360.0 + 0.5),
                  std::trunc((hMax - hMin) * F * kTwoPi / 360.0 + 0.5));
}

void CSphericalSurface::ImageRows(const SurfaceImage& photo, double& top, double& bottom) const {
    top = (photo.hMin - hMin) * pose.focal * kPi / 180.0;
    bottom = (photo.hMax - hMin) * pose.focal * kPi / 180.0;
}

double CSphericalSurface::FocalForPixels(std::int32_t n) const {
    if (outHeight < outWidth)
        return n * 360.0 / ((hMax - hMin) * kTwoPi);
    return CCylindricalSurface::FocalForPixels(n);
}

double CSphericalSurface::RowDirection(std::int32_t row) const {
    const double lat = row * 180.0 / (pose.focal * kPi) + hMin;
    return std::tan(lat * kPi / 180.0);
}

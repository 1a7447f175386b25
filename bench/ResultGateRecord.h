#pragma once
// What result_gate records of one build and how it judges two records of the
// same case against the gate's tolerances.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <istream>
#include <numbers>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "PanoElement.h"

namespace ResultGate {

constexpr double kCornerTolerance = 0.5;  // pixels
constexpr int kLevelTolerance = 2;        // levels per channel
constexpr double kPixelShare = 0.999;     // of the pixels within the level tolerance

// What one build gives: its status, its edges (photo pairs, sorted), per
// photo where its corners went, and its full-size picture.
struct Record {
    std::string name;
    int status = 0;
    std::vector<std::pair<int, int>> edges;
    // Planar: 8 coordinates, the photo's corners in the panorama; tiled:
    // focal, yaw, pitch, roll (degrees) and the photo's half diagonal. Empty
    // when the photo was not placed.
    std::vector<std::vector<double>> photos;
    std::string picture;  // file name beside the record; empty: no picture
};

inline void Write(std::ostream& out, const Record& r) {
    out.precision(17);
    out << "case " << r.name << "\nstatus " << r.status << "\nedges " << r.edges.size() << "\n";
    for (const auto& [a, b] : r.edges)
        out << a << " " << b << "\n";
    out << "photos " << r.photos.size() << "\n";
    for (const auto& p : r.photos) {
        out << p.size();
        for (double v : p)
            out << " " << v;
        out << "\n";
    }
    out << "picture " << (r.picture.empty() ? "-" : r.picture) << "\n";
}

inline bool Read(std::istream& in, Record& r) {
    std::string word;
    std::size_t n = 0;
    if (!(in >> word >> r.name) || word != "case")
        return false;
    in >> word >> r.status >> word >> n;
    r.edges.resize(in ? n : 0);
    for (auto& [a, b] : r.edges)
        in >> a >> b;
    in >> word >> n;
    r.photos.resize(in ? n : 0);
    for (auto& p : r.photos) {
        in >> n;
        p.resize(in ? n : 0);
        for (double& v : p)
            in >> v;
    }
    in >> word >> r.picture;
    if (r.picture == "-")
        r.picture.clear();
    return bool(in);
}

// The largest distance a photo corner moved between two records of a case;
// infinity when a photo was placed in one of them only.
inline double LargestCornerMove(const Record& a, const Record& b) {
    if (a.photos.size() != b.photos.size())
        return INFINITY;
    double worst = 0.0;
    for (std::size_t i = 0; i < a.photos.size(); ++i) {
        const std::vector<double>& p = a.photos[i];
        const std::vector<double>& q = b.photos[i];
        if (p.size() != q.size())
            return INFINITY;
        if (p.size() == 8) {
            for (int c = 0; c < 4; ++c)
                worst = std::max(worst, std::hypot(p[2 * c] - q[2 * c], p[2 * c + 1] - q[2 * c + 1]));
        } else if (p.size() == 5) {
            // A turn of the camera by a moves every corner by about focal * a,
            // a roll turns the corners about the centre, a focal change
            // scales them about it.
            constexpr double kRad = std::numbers::pi / 180.0;
            const double focal = p[0], r = p[4];
            const double turn = focal * kRad * (std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]));
            const double roll = r * kRad * std::abs(p[3] - q[3]);
            const double scale = focal > 0.0 ? r * std::abs(p[0] - q[0]) / focal : 0.0;
            worst = std::max(worst, turn + roll + scale);
        }
    }
    return worst;
}

struct PictureDiff {
    bool sameSize = false;
    double within = 0.0;  // share of the pixels within the level tolerance
    int largest = 0;      // largest channel difference
};

inline PictureDiff ComparePictures(const CPanoElement& x, const CPanoElement& y) {
    PictureDiff d;
    if (x.GetWidth() != y.GetWidth() || x.GetHeight() != y.GetHeight() || x.GetBpp() != y.GetBpp())
        return d;
    d.sameSize = true;
    const int w = x.GetWidth(), h = x.GetHeight(), bytes = x.GetBpp() / 8;
    long within = 0;
    for (int row = 0; row < h; ++row) {
        const std::uint8_t* p = x.GetBits() + static_cast<std::ptrdiff_t>(row) * x.GetStride();
        const std::uint8_t* q = y.GetBits() + static_cast<std::ptrdiff_t>(row) * y.GetStride();
        for (int col = 0; col < w; ++col) {
            int largest = 0;
            for (int c = 0; c < bytes; ++c)
                largest = std::max(largest, std::abs(int(p[col * bytes + c]) - int(q[col * bytes + c])));
            within += largest <= kLevelTolerance;
            d.largest = std::max(d.largest, largest);
        }
    }
    d.within = w > 0 && h > 0 ? double(within) / (double(w) * h) : 1.0;
    return d;
}

struct Verdict {
    bool sameStatus = false;
    bool sameEdges = false;
    double corner = 0.0;  // largest corner move, pixels
    PictureDiff picture;
    bool pass = false;
};

// The picture comparison comes from the caller (both pictures, or neither:
// then it is a match of equal size).
inline Verdict Judge(const Record& before, const Record& after, const PictureDiff& picture) {
    Verdict v;
    v.sameStatus = before.status == after.status;
    v.sameEdges = before.edges == after.edges;
    v.corner = LargestCornerMove(before, after);
    v.picture = picture;
    v.pass = v.sameStatus && v.sameEdges && v.corner <= kCornerTolerance && picture.sameSize &&
             picture.within >= kPixelShare;
    return v;
}

}  // namespace ResultGate

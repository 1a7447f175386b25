#pragma once
// What result_gate records of one build and how it judges two records of the
// same case against the gate's tolerances.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <istream>
#include <map>
#include <numbers>
#include <ostream>
#include <sstream>
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

namespace detail {

inline std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// A whole word as a number: no locale, and "inf" and "nan" read back as the
// writer wrote them.
template <class T>
bool Number(const std::string& word, T& value) {
    const char* end = word.data() + word.size();
    const auto [at, fault] = std::from_chars(word.data(), end, value);
    return fault == std::errc() && at == end;
}

}  // namespace detail

// Reads the records of a file (named file in messages) into out, by case
// name. False at the first malformed line or a case that comes twice, with
// error saying which line of which file and what was wrong; a record that
// stops half way is malformed, not the end of the file.
inline bool ReadRecords(std::istream& in, const std::string& file, std::map<std::string, Record>& out,
                        std::string& error) {
    int number = 0;
    bool ended = false;
    std::vector<std::string> w;  // the words of the current line
    auto next = [&] {
        std::string text;
        ended = !std::getline(in, text);
        if (!ended) {
            ++number;
            w = detail::Words(text);
        }
        return !ended;
    };
    auto fail = [&](const std::string& what) {
        error = file + ":" + std::to_string(number) + ": " +
                (ended ? "the file ends inside a record; expected " + what : what);
        return false;
    };
    // A line of key and one number.
    auto keyed = [&](const char* key, auto& value) {
        return next() && w.size() == 2 && w[0] == key && detail::Number(w[1], value);
    };
    while (next()) {
        if (w.empty())
            continue;  // blank lines between records
        Record r;
        if (w.size() != 2 || w[0] != "case")
            return fail("expected \"case NAME\"");
        r.name = w[1];
        if (out.count(r.name))
            return fail("case " + r.name + " comes a second time");
        if (!keyed("status", r.status))
            return fail("expected \"status NUMBER\"");
        int count = 0;
        if (!keyed("edges", count) || count < 0)
            return fail("expected \"edges COUNT\"");
        for (int i = 0; i < count; ++i) {
            std::pair<int, int> e;
            if (!next() || w.size() != 2 || !detail::Number(w[0], e.first) || !detail::Number(w[1], e.second))
                return fail("expected an edge, \"PHOTO PHOTO\"");
            r.edges.push_back(e);
        }
        if (!keyed("photos", count) || count < 0)
            return fail("expected \"photos COUNT\"");
        for (int i = 0; i < count; ++i) {
            int values = 0;
            bool good = next() && !w.empty() && detail::Number(w[0], values) && values >= 0 &&
                        w.size() == std::size_t(values) + 1;
            std::vector<double> p(good ? values : 0);
            for (int j = 0; good && j < values; ++j)
                good = detail::Number(w[j + 1], p[j]);
            if (!good)
                return fail("expected a photo, \"COUNT\" and as many numbers");
            r.photos.push_back(std::move(p));
        }
        if (!next() || w.size() != 2 || w[0] != "picture")
            return fail("expected \"picture FILE\" or \"picture -\"");
        r.picture = w[1] == "-" ? "" : w[1];
        out.emplace(r.name, std::move(r));
    }
    if (in.bad()) {
        error = file + ": cannot be read";
        return false;
    }
    return true;
}

// Where the case of each name in two records is.
enum class Side { Both, BeforeOnly, AfterOnly };

// Every case name of either record, in name order, with where it is.
inline std::vector<std::pair<std::string, Side>> PairCases(const std::map<std::string, Record>& before,
                                                           const std::map<std::string, Record>& after) {
    std::vector<std::pair<std::string, Side>> cases;
    auto a = before.begin(), b = after.begin();
    while (a != before.end() || b != after.end()) {
        if (b == after.end() || (a != before.end() && a->first < b->first))
            cases.emplace_back((a++)->first, Side::BeforeOnly);
        else if (a == before.end() || b->first < a->first)
            cases.emplace_back((b++)->first, Side::AfterOnly);
        else {
            cases.emplace_back(a->first, Side::Both);
            ++a, ++b;
        }
    }
    return cases;
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

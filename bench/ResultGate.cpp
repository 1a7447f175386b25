// The gate for changes that alter the engine's arithmetic (single-precision
// distances, fused multiply-add, ...): such a change may not leave results
// bit-identical, but it must leave them the same to the eye.
//
//   result_gate record DIR        builds every case and writes DIR/record.txt
//                                 and one full-size picture per case
//   result_gate compare OLD NEW   compares two records, prints a table and
//                                 exits 1 when a case misses a gate
//
// The cases: every shared set (apartment-ring as a 360-degree ring) and a
// grey copy of it, 256 pixels wide, built by the planar model; and the
// shared sets the tiled model's own checks use, on the sphere. A case passes
// when its match graph has the same edges (photo pairs), no photo corner
// moved by more than 0.5 pixels (planar: the corners mapped into the
// panorama; tiled: the pose change taken to the photo's corners), and the
// full-size pictures have the same size and differ by at most 2 levels in
// 99.9 % of their pixels.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "FreeThreading.h"
#include "Panorama.h"
#include "PanoramaFixtures.h"
#include "TiledPanorama.h"

namespace {

namespace fs = std::filesystem;
using OrvexBase::RefPtr;

constexpr double kCornerTolerance = 0.5;  // pixels
constexpr int kLevelTolerance = 2;        // grey levels per channel
constexpr double kPixelShare = 0.999;     // of the pixels within the level tolerance

const char* const kPlanarSets[] = {"apartment-ring", "boat-row", "weir-row-distractor", "exposure-pair"};
const char* const kTiledSets[] = {"apartment-ring", "boat-row"};

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class GatePanorama : public CPanorama {
public:
    using CPanorama::full_;
    using CPanorama::matchGraph_;
};

// What one build gives: its edges, a corner position (or a bound on how far
// a corner can move, for the tiled model's poses) per photo, and its picture.
struct Record {
    std::string name;
    int status = 0;
    std::vector<std::pair<int, int>> edges;
    // Planar: 8 coordinates, the photo's corners in the panorama; tiled:
    // focal, yaw, pitch, roll and the photo's half diagonal. Empty when the
    // photo was not placed.
    std::vector<std::vector<double>> photos;
    std::string picture;  // file name beside the record
};

// The shared set's photos, or for `grey` their grey 256-pixel copies
// (written to scratch and loaded back, as the engine takes photos from files).
std::vector<PanoramaLib::IPanoElement*> LoadSet(const std::string& set, bool grey, const fs::path& scratch) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(OVH_SHARED_DATA) / "photos" / set))
        if (entry.path().extension() == ".jpg")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<PanoramaLib::IPanoElement*> photos;
    for (std::size_t k = 0; k < files.size(); ++k) {
        std::string path = files[k].string();
        if (grey) {
            RefPtr<CPanoElement> photo(new CPanoElement(0));
            if (!photo->Load(W(path))) {
                std::fprintf(stderr, "result_gate: cannot load %s\n", path.c_str());
                continue;
            }
            path = (scratch / (set + "-grey" + std::to_string(k) + ".png")).string();
            if (!PanoramaFixtures::GreyCopy(photo.Get(), 256)->Save(W(path))) {
                std::fprintf(stderr, "result_gate: cannot write %s\n", path.c_str());
                continue;
            }
        }
        PanoramaLib::IPanoElement* e = CreatePanoElement(0);
        if (e->Load(W(path)))
            photos.push_back(e);
        else
            e->Release();
    }
    return photos;
}

void AddEdges(const match_graph::CGraph& graph, Record& r) {
    for (const match_graph::CEdge* e : graph.Edges())
        r.edges.emplace_back(e->firstImage, e->secondImage);
    std::sort(r.edges.begin(), r.edges.end());
}

bool SavePicture(PanoramaLib::IPanoElement* result, const fs::path& dir, Record& r) {
    if (!result || !result->IsValid())
        return true;
    r.picture = r.name + ".png";
    return result->Save(W((dir / r.picture).string()));
}

// The planar model with the settings stitch_bench uses.
Record BuildPlanar(const std::string& set, bool grey, const fs::path& dir, const fs::path& scratch) {
    Record r;
    r.name = "planar-" + set + (grey ? "-grey" : "");
    std::vector<PanoramaLib::IPanoElement*> photos = LoadSet(set, grey, scratch);
    CDibManager manager;
    PanoramaLib::IDibManager* previous = g_pDibManager;
    g_pDibManager = &manager;
    auto* engine = new GatePanorama();
    engine->Init(nullptr, nullptr, nullptr);
    HVPanoramaOptions options;
    engine->GetOptions(&options);
    options.motionModel = 2;
    options.lensCompensation = 1;
    options.lensPresetId = 7;
    options.analysisSize = 1;
    options.is360 = set == "apartment-ring" ? 1 : 0;
    options.autoCrop = 0;
    engine->SetOptions(&options);
    engine->Build(photos, nullptr, 0, 0, 0);
    r.status = engine->GetBuildReport()->status;
    AddEdges(engine->matchGraph_, r);
    if (r.status == 1 || r.status == 4 || r.status == 5) {
        engine->Render();
        const RenderPass& pass = engine->full_;
        for (std::size_t i = 0; i < pass.transforms.size(); ++i) {
            const CPanoElement* photo = pass.Photo(static_cast<int>(i));
            const RenderPass::Matrix& m = pass.transforms[i];
            const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                               m[2] * (m[3] * m[7] - m[4] * m[6]);
            std::vector<double> corners;
            if (photo && std::isfinite(det) && det != 0.0) {
                double inverse[9];
                InvertMatrix3x3(inverse, m.data());
                const double w = photo->GetWidth(), h = photo->GetHeight();
                for (const auto& [x, y] : {std::pair{0.0, 0.0}, {w, 0.0}, {0.0, h}, {w, h}}) {
                    const double z = inverse[6] * x + inverse[7] * y + inverse[8];
                    corners.push_back((inverse[0] * x + inverse[1] * y + inverse[2]) / z);
                    corners.push_back((inverse[3] * x + inverse[4] * y + inverse[5]) / z);
                }
            }
            r.photos.push_back(corners);
        }
        if (!SavePicture(engine->GetResult(true), dir, r))
            std::fprintf(stderr, "result_gate: cannot save the picture of %s\n", r.name.c_str());
    }
    engine->Release();
    ReleaseElementVector(photos);
    g_pDibManager = previous;
    return r;
}

// The tiled model on the sphere, full-size render at the zero view angles.
Record BuildTiled(const std::string& set, const fs::path& dir, const fs::path& scratch) {
    Record r;
    r.name = "tiled-sphere-" + set;
    std::vector<PanoramaLib::IPanoElement*> photos = LoadSet(set, false, scratch);
    CDibManager manager;
    PanoramaLib::IDibManager* previous = g_pDibManager;
    g_pDibManager = &manager;
    CFreeThreading threads;
    auto* engine = new Tiled_Panorama::CPanorama();
    engine->Init(&threads, nullptr, nullptr);
    HVPanoramaOptions options;
    engine->GetOptions(&options);
    options.surfaceKind = SurfaceSphere;
    options.autoCrop = 0;
    engine->SetOptions(&options);
    engine->Build(photos, nullptr, 0, 0, 0);
    r.status = engine->GetBuildReport()->status;
    AddEdges(engine->MatchGraph(), r);
    if (r.status == 1) {
        const auto& order = engine->PlacementOrder();
        const auto& poses = engine->Poses();
        for (std::size_t i = 0; i < poses.size(); ++i) {
            std::vector<double> pose;
            if (std::find(order.begin(), order.end(), static_cast<std::int32_t>(i)) != order.end()) {
                const TiledImagePose& p = poses[i];
                const double halfDiagonal =
                    i < photos.size() ? 0.5 * std::hypot(photos[i]->GetWidth(), photos[i]->GetHeight()) : 0.0;
                pose = {p.focal, p.yaw, p.pitch, p.roll, halfDiagonal};
            }
            r.photos.push_back(pose);
        }
        if (engine->RenderForPrint(0, 0, 0) && !SavePicture(engine->GetResult(true), dir, r))
            std::fprintf(stderr, "result_gate: cannot save the picture of %s\n", r.name.c_str());
    }
    engine->Release();
    ReleaseElementVector(photos);
    g_pDibManager = previous;
    return r;
}

void Write(std::ostream& out, const Record& r) {
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

bool Read(std::istream& in, Record& r) {
    std::string word;
    std::size_t n = 0;
    if (!(in >> word >> r.name) || word != "case")
        return false;
    in >> word >> r.status >> word >> n;
    r.edges.resize(n);
    for (auto& [a, b] : r.edges)
        in >> a >> b;
    in >> word >> n;
    r.photos.resize(n);
    for (auto& p : r.photos) {
        in >> n;
        p.resize(n);
        for (double& v : p)
            in >> v;
    }
    in >> word >> r.picture;
    if (r.picture == "-")
        r.picture.clear();
    return bool(in);
}

std::map<std::string, Record> ReadAll(const fs::path& dir) {
    std::map<std::string, Record> out;
    std::ifstream in(dir / "record.txt");
    Record r;
    while (Read(in, r))
        out[r.name] = r;
    return out;
}

// The largest distance a photo corner moved; infinity when a photo was
// placed in one record only.
double LargestCornerMove(const Record& a, const Record& b) {
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
            // A turn of the camera by a moves every corner by about focal * a;
            // a roll turns the corners about the centre; a focal change scales
            // them about it.
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

PictureDiff ComparePictures(const fs::path& a, const fs::path& b) {
    PictureDiff d;
    RefPtr<CPanoElement> x(new CPanoElement(0)), y(new CPanoElement(0));
    if (!x->Load(W(a.string())) || !y->Load(W(b.string())))
        return d;
    if (x->GetWidth() != y->GetWidth() || x->GetHeight() != y->GetHeight() || x->GetBpp() != y->GetBpp())
        return d;
    d.sameSize = true;
    const int w = x->GetWidth(), h = x->GetHeight(), bytes = x->GetBpp() / 8;
    long within = 0;
    for (int row = 0; row < h; ++row) {
        const std::uint8_t* p = x->GetBits() + static_cast<std::ptrdiff_t>(row) * x->GetStride();
        const std::uint8_t* q = y->GetBits() + static_cast<std::ptrdiff_t>(row) * y->GetStride();
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

int RecordAll(const fs::path& dir) {
    fs::create_directories(dir);
    const fs::path scratch = dir / "grey-copies";
    fs::create_directories(scratch);
    std::ofstream out(dir / "record.txt");
    for (const char* set : kPlanarSets)
        for (bool grey : {false, true}) {
            const Record r = BuildPlanar(set, grey, dir, scratch);
            std::printf("%-36s status %d, %zu edges\n", r.name.c_str(), r.status, r.edges.size());
            Write(out, r);
        }
    for (const char* set : kTiledSets) {
        const Record r = BuildTiled(set, dir, scratch);
        std::printf("%-36s status %d, %zu edges\n", r.name.c_str(), r.status, r.edges.size());
        Write(out, r);
    }
    fs::remove_all(scratch);
    return out ? 0 : 2;
}

int Compare(const fs::path& before, const fs::path& after) {
    const std::map<std::string, Record> a = ReadAll(before), b = ReadAll(after);
    if (a.empty()) {
        std::fprintf(stderr, "result_gate: no record in %s\n", before.c_str());
        return 2;
    }
    std::printf("%-32s %-6s %-6s %-12s %-11s %-9s %s\n", "case", "status", "edges", "corner px", "pixels<=2",
                "max diff", "gate");
    bool allPass = true;
    for (const auto& [name, old] : a) {
        const auto it = b.find(name);
        if (it == b.end()) {
            std::printf("%-32s missing in %s\n", name.c_str(), after.c_str());
            allPass = false;
            continue;
        }
        const Record& now = it->second;
        const bool sameStatus = old.status == now.status;
        const bool sameEdges = old.edges == now.edges;
        const double corner = LargestCornerMove(old, now);
        PictureDiff pic;
        if (old.picture.empty() && now.picture.empty())
            pic = {true, 1.0, 0};
        else if (!old.picture.empty() && !now.picture.empty())
            pic = ComparePictures(before / old.picture, after / now.picture);
        const bool pass = sameStatus && sameEdges && corner <= kCornerTolerance && pic.sameSize &&
                          pic.within >= kPixelShare;
        allPass = allPass && pass;
        char share[32];
        if (pic.sameSize)
            std::snprintf(share, sizeof share, "%.4f %%", 100.0 * pic.within);
        else
            std::snprintf(share, sizeof share, "size!");
        std::printf("%-32s %-6s %-6s %-12.4f %-11s %-9d %s\n", name.c_str(), sameStatus ? "same" : "DIFF",
                    sameEdges ? "same" : "DIFF", corner, share, pic.largest, pass ? "pass" : "MISS");
    }
    std::printf("%s\n", allPass ? "all gates pass" : "a gate is missed");
    return allPass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc == 3)
        return RecordAll(argv[2]);
    if (mode == "compare" && argc == 4)
        return Compare(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: result_gate record DIR\n"
                 "       result_gate compare BEFORE_DIR AFTER_DIR\n");
    return 2;
}

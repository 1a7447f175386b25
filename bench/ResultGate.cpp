// The gate for changes that alter the engine's arithmetic (single-precision
// distances, fused multiply-add, ...): such a change may not leave results
// bit-identical, but it must leave them the same to the eye.
//
//   result_gate record DIR [CASE...]
//                                 builds every case (or the cases named) and
//                                 writes DIR/record.txt and one full-size
//                                 picture per case
//   result_gate compare OLD NEW   compares two records, prints a table and
//                                 exits 1 when a case misses a gate or is
//                                 in one record only, 2 when a record file
//                                 is missing, empty or malformed
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
#include "ResultGateRecord.h"
#include "TiledPanorama.h"

namespace {

namespace fs = std::filesystem;
using OrvexBase::RefPtr;
using namespace ResultGate;
using PanoramaFixtures::W;

const char* const kPlanarSets[] = {"apartment-ring", "boat-row", "weir-row-distractor", "exposure-pair"};
const char* const kTiledSets[] = {"apartment-ring", "boat-row"};

class GatePanorama : public CPanorama {
public:
    using CPanorama::full_;
    using CPanorama::matchGraph_;
};

// The shared set's photos, or for `grey` their grey 256-pixel copies
// (written to scratch and loaded back, as the engine takes photos from files).
std::vector<PanoramaLib::IPanoElement*> LoadSet(const std::string& set, bool grey, const fs::path& scratch) {
    const std::vector<fs::path> files =
        PanoramaFixtures::JpegsByName(fs::path(OVH_SHARED_DATA) / "photos" / set);
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

std::string PlanarName(const std::string& set, bool grey) {
    return "planar-" + set + (grey ? "-grey" : "");
}

std::string TiledName(const std::string& set) {
    return "tiled-sphere-" + set;
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

// The planar model with stitch_bench's default settings.
Record BuildPlanar(const std::string& set, bool grey, const fs::path& dir, const fs::path& scratch) {
    Record r;
    r.name = PlanarName(set, grey);
    std::vector<PanoramaLib::IPanoElement*> photos = LoadSet(set, grey, scratch);
    CDibManager manager;
    PanoramaLib::IDibManager* previous = g_pDibManager;
    g_pDibManager = &manager;
    auto* engine = new GatePanorama();
    engine->Init(nullptr, nullptr, nullptr);
    PanoramaFixtures::UseBenchmarkSettings(engine, set == "apartment-ring");
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
    r.name = TiledName(set);
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

// The records in dir; false, said on stderr, when there is no record file,
// it holds none, or one in it is malformed.
bool ReadAll(const fs::path& dir, std::map<std::string, Record>& out) {
    const fs::path file = dir / "record.txt";
    std::ifstream in(file);
    std::string error;
    if (!in)
        error = file.string() + ": cannot be opened";
    else if (ReadRecords(in, file.string(), out, error) && out.empty())
        error = file.string() + ": holds no record";
    if (error.empty())
        return true;
    std::fprintf(stderr, "result_gate: %s\n", error.c_str());
    return false;
}

PictureDiff ComparePictures(const fs::path& a, const fs::path& b) {
    RefPtr<CPanoElement> x(new CPanoElement(0)), y(new CPanoElement(0));
    if (!x->Load(W(a.string())) || !y->Load(W(b.string())))
        return {};
    return ResultGate::ComparePictures(*x, *y);
}

// Records the cases named in `only` (every case when it is empty).
int RecordAll(const fs::path& dir, const std::vector<std::string>& only) {
    fs::create_directories(dir);
    const fs::path scratch = dir / "grey-copies";
    fs::create_directories(scratch);
    std::ofstream out(dir / "record.txt");
    auto wanted = [&only](const std::string& name) {
        return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
    };
    auto keep = [&out](const Record& r) {
        std::printf("%-36s status %d, %zu edges\n", r.name.c_str(), r.status, r.edges.size());
        Write(out, r);
    };
    for (const char* set : kPlanarSets)
        for (bool grey : {false, true})
            if (wanted(PlanarName(set, grey)))
                keep(BuildPlanar(set, grey, dir, scratch));
    for (const char* set : kTiledSets)
        if (wanted(TiledName(set)))
            keep(BuildTiled(set, dir, scratch));
    fs::remove_all(scratch);
    return out ? 0 : 2;
}

int Compare(const fs::path& before, const fs::path& after) {
    std::map<std::string, Record> a, b;
    if (!ReadAll(before, a) || !ReadAll(after, b))
        return 2;
    std::printf("%-32s %-6s %-6s %-12s %-11s %-9s %s\n", "case", "status", "edges", "corner px", "pixels<=2",
                "max diff", "gate");
    bool allPass = true;
    int unpaired = 0;
    for (const auto& [name, side] : PairCases(a, b)) {
        // A case of one record only cannot be judged: the gate is missed.
        if (side != Side::Both) {
            std::printf("%-32s only in %s\n", name.c_str(),
                        (side == Side::BeforeOnly ? before : after).c_str());
            ++unpaired;
            allPass = false;
            continue;
        }
        const Record& old = a.at(name);
        const Record& now = b.at(name);
        PictureDiff pic;
        if (old.picture.empty() && now.picture.empty())
            pic = {true, 1.0, 0};
        else if (!old.picture.empty() && !now.picture.empty())
            pic = ComparePictures(before / old.picture, after / now.picture);
        const Verdict v = Judge(old, now, pic);
        allPass = allPass && v.pass;
        char share[32];
        if (pic.sameSize)
            std::snprintf(share, sizeof share, "%.4f %%", 100.0 * pic.within);
        else
            std::snprintf(share, sizeof share, "size!");
        std::printf("%-32s %-6s %-6s %-12.4f %-11s %-9d %s\n", name.c_str(), v.sameStatus ? "same" : "DIFF",
                    v.sameEdges ? "same" : "DIFF", v.corner, share, pic.largest, v.pass ? "pass" : "MISS");
    }
    if (unpaired > 0)
        std::printf("%d case%s in one record only\n", unpaired, unpaired == 1 ? "" : "s");
    std::printf("%s\n", allPass ? "all gates pass" : "a gate is missed");
    return allPass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc >= 3)
        return RecordAll(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    if (mode == "compare" && argc == 4)
        return Compare(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: result_gate record DIR [CASE...]\n"
                 "       result_gate compare BEFORE_DIR AFTER_DIR\n");
    return 2;
}

#include "PhotoElements.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>

#include "ConverterInterface.h"
#include "DocText.h"
#include "Formgate.h"
#include "PanoramaLib.h"
#include "ProjectFiles.h"
#include "StringTable.h"
#include "TextCodec.h"

namespace {

constexpr unsigned kIdsLoadingImage = 233;
constexpr unsigned kIdsUnsupportedFormat = 194;
constexpr unsigned kIdsNotTrueColour = 61012;
constexpr unsigned kIdsDamagedFile = 61013;

bool SameTextNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// The engine calls every file it cannot decode an unsupported format. A
// picture the module reads is refused for its kind (the engine takes 24-bit
// colour only); one nothing reads is damaged or no picture at all.
std::string RefinedLoadError(const std::string& path, const std::string& engineText) {
    if (engineText != Res::LoadStr(kIdsUnsupportedFormat))
        return engineText;
    CONVIMAGEINFO info{};
    if (ImExp_GetFileInfo(&info, path.c_str(), 0) == 1 && info.width > 0 && info.height > 0 &&
        info.bitsPerPixel != 24)
        return DocText::Load(kIdsNotTrueColour, {std::to_string(info.bitsPerPixel)});
    return Res::LoadStr(kIdsDamagedFile);
}

std::string ElementPath(const PanoramaLib::IPanoElement* element) {
    return Platform::Utf8FromWide(element->GetFileName());
}

void ReleaseAll(CPhotoElements::ElementVector& elements) {
    for (PanoramaLib::IPanoElement* element : elements)
        if (element)
            element->Release();
    elements.clear();
}

}  // namespace

CPhotoElements::~CPhotoElements() {
    Clear();
}

void CPhotoElements::Clear() {
    ReleaseAll(m_elements);
    ReleaseAll(m_prepared);
}

CPhotoElements::Load::~Load() {
    ReleaseAll(elements);
    ReleaseAll(prepared);
}

std::shared_ptr<CPhotoElements::Load> CPhotoElements::PlanLoad(std::vector<std::string> paths) {
    auto load = std::make_shared<Load>();
    load->paths = std::move(paths);
    const std::size_t n = load->paths.size();
    load->elements.assign(n, nullptr);
    load->prepared.assign(n, nullptr);
    for (std::size_t k = 0; k < n; ++k) {
        int index = -1;
        if (PanoramaLib::IPanoElement* element = FindByPath(load->paths[k], m_elements, &index)) {
            element->AddRef();
            load->elements[k] = element;
            if (static_cast<std::size_t>(index) < m_prepared.size() && m_prepared[index]) {
                m_prepared[index]->AddRef();
                load->prepared[k] = m_prepared[index];
            }
        } else {
            load->toLoad.push_back(k);
        }
    }
    Clear();
    m_incomplete = false;
    return load;
}

void CPhotoElements::Read(Load& load, IProgressIndicatorEx* progress, const Reader& loadOne,
                          const Prepare& prepare) {
    const int total = static_cast<int>(load.toLoad.size());
    for (int i = 1; i <= total; ++i) {
        const std::size_t k = load.toLoad[i - 1];
        if (progress) {
            progress->SetText(
                DocText::Load(kIdsLoadingImage, {ProjectFiles::FileNameOf(load.paths[k])}).c_str());
            // Large photos take a while each: the loading can be cancelled
            // between two of them.
            if (i == 1)
                progress->Begin();
            if (progress->SetProgress(total, i)) {
                load.unloaded.assign(load.toLoad.begin() + (i - 1), load.toLoad.end());
                load.cancelled = true;
                break;
            }
        }
        std::string refusal;
        SamePictures::Fingerprint print;
        PanoramaLib::IPanoElement* element = loadOne(load.paths[k], &refusal, &print);
        if (!element) {
            load.failed.push_back(k);
            if (!refusal.empty())
                load.refused.emplace_back(ProjectFiles::FileNameOf(load.paths[k]), refusal);
            continue;
        }
        load.elements[k] = element;
        load.prints.emplace_back(load.paths[k], print);
        load.prepared[k] = prepare ? prepare(element) : nullptr;
        element->Unload();
    }
    if (total > 0 && progress)
        progress->End();
}

PanoramaLib::IPanoElement* CPhotoElements::LoadOne(const std::string& path, std::string* refusal,
                                                   SamePictures::Fingerprint* print) const {
    static const char* const kLoadable[] = {".bmp", ".jpg", ".jpeg", ".png", ".tif", ".tiff"};
    const std::string extension = ProjectFiles::LowerExtension(path);
    if (std::find(std::begin(kLoadable), std::end(kLoadable), extension) == std::end(kLoadable)) {
        *refusal = Res::LoadStr(kIdsUnsupportedFormat);
        return nullptr;
    }
    for (PanoramaLib::IPanoElement* element : m_elements)
        if (element && SameTextNoCase(ElementPath(element), path))
            return nullptr;
    // The loader calls every unreadable file an unsupported format; a photo
    // deleted or moved since it was added is named as missing instead.
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(path), error) && !error) {
        *refusal = "File not found";
        return nullptr;
    }
    PanoramaLib::IPanoElement* element = CreatePanoElement(0);
    if (!element)
        return nullptr;
    if (!element->Load(Platform::WideFromUtf8(path))) {
        *refusal = RefinedLoadError(path, Platform::Utf8FromWide(element->GetErrorText()));
        element->Release();
        return nullptr;
    }
    if (print)
        *print = SamePictures::Of(element);
    return element;
}

std::vector<std::string> CPhotoElements::TakeIn(Load& load) {
    std::vector<std::size_t> emptied = load.failed;
    emptied.insert(emptied.end(), load.unloaded.begin(), load.unloaded.end());
    std::sort(emptied.begin(), emptied.end());
    std::vector<std::string> refused;
    for (auto it = emptied.rbegin(); it != emptied.rend(); ++it) {
        const std::size_t k = *it;
        if (std::find(load.failed.begin(), load.failed.end(), k) != load.failed.end())
            refused.insert(refused.begin(), load.paths[k]);
        for (ElementVector* list : {&load.elements, &load.prepared}) {
            if ((*list)[k])
                (*list)[k]->Release();
            list->erase(list->begin() + static_cast<long>(k));
        }
    }
    Clear();
    m_elements = std::exchange(load.elements, {});
    m_prepared = std::exchange(load.prepared, {});
    for (auto& [path, print] : load.prints)
        m_fingerprints[path] = print;
    m_incomplete = load.cancelled;
    return refused;
}

PanoramaLib::IPanoElement* CPhotoElements::FindByPath(const std::string& path, const ElementVector& elements,
                                                      int* index) {
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (elements[i] && ElementPath(elements[i]) == path) {
            if (index)
                *index = static_cast<int>(i);
            return elements[i];
        }
    }
    return nullptr;
}

std::vector<std::string> CPhotoElements::PathsAt(const std::vector<std::int32_t>& indices) const {
    std::vector<std::string> paths;
    for (std::int32_t index : indices)
        if (index >= 0 && static_cast<std::size_t>(index) < m_elements.size() && m_elements[index])
            paths.push_back(ElementPath(m_elements[index]));
    return paths;
}

std::vector<std::string> CPhotoElements::SizeMismatches() const {
    // Distinct sizes in order of first appearance, with their counts.
    struct SizeCount {
        OrvexBase::Size size;
        int count;
    };
    std::vector<SizeCount> sizes;
    std::size_t reference = 0;
    for (PanoramaLib::IPanoElement* element : m_elements) {
        if (!element)
            continue;
        const OrvexBase::Size size = element->GetSize();
        auto it =
            std::find_if(sizes.begin(), sizes.end(), [&](const SizeCount& s) { return s.size == size; });
        if (it == sizes.end())
            it = sizes.insert(sizes.end(), {size, 0});
        ++it->count;
        if (it->count > sizes[reference].count)
            reference = static_cast<std::size_t>(it - sizes.begin());
    }
    std::vector<std::string> mismatches;
    if (sizes.size() <= 1)
        return mismatches;
    const OrvexBase::Size ref = sizes[reference].size;
    for (PanoramaLib::IPanoElement* element : m_elements) {
        if (!element)
            continue;
        const OrvexBase::Size size = element->GetSize();
        if (!(size == ref) && !(size.cx == ref.cy && size.cy == ref.cx))
            mismatches.push_back(ElementPath(element));
    }
    return mismatches;
}

std::vector<std::vector<std::size_t>> CPhotoElements::SamePictureGroups() const {
    std::vector<SamePictures::Fingerprint> prints;
    for (PanoramaLib::IPanoElement* element : m_elements) {
        const auto it = element ? m_fingerprints.find(ElementPath(element)) : m_fingerprints.end();
        prints.push_back(it != m_fingerprints.end() ? it->second : SamePictures::Fingerprint{});
    }
    return SamePictures::Groups(prints);
}

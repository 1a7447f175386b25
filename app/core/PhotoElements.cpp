#include "PhotoElements.h"

#include <algorithm>

#include "PanoramaLib.h"
#include "TextCodec.h"

namespace {

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

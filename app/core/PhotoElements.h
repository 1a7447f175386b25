#pragma once
// The engines' elements of the project's photos, in the photos' order, each
// with the planar model's prepared copy (null where it has none), and the
// fingerprint of each photo's pixels as last loaded.
//
// A load is planned on the user-interface thread (the elements of photos
// still in the project are kept for it, the rest released), its reading runs
// off that thread on the plan alone, and its end is taken in on the
// user-interface thread again; in between these lists are empty.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "EngineCallbacksEx.h"
#include "SamePictures.h"

namespace PanoramaLib {
class IPanoElement;
}

class CPhotoElements {
public:
    using ElementVector = std::vector<PanoramaLib::IPanoElement*>;

    CPhotoElements() = default;
    ~CPhotoElements();
    CPhotoElements(const CPhotoElements&) = delete;
    CPhotoElements& operator=(const CPhotoElements&) = delete;

    const ElementVector& Elements() const { return m_elements; }
    const ElementVector& Prepared() const { return m_prepared; }
    bool IsEmpty() const { return m_elements.empty(); }
    // The user cancelled the last load: some project photos have no element.
    bool IsIncomplete() const { return m_incomplete; }

    // What one load works on. Slots follow the paths; those that end empty
    // are photos refused (they leave the project) and photos not reached
    // because the user cancelled (they stay, and load at the next stitch).
    struct Load {
        std::vector<std::string> paths;
        ElementVector elements, prepared;
        std::vector<std::size_t> toLoad;
        std::vector<std::size_t> failed, unloaded;
        // (file name, reason) of each refused photo.
        std::vector<std::pair<std::string, std::string>> refused;
        std::vector<std::pair<std::string, SamePictures::Fingerprint>> prints;
        bool cancelled = false;
        Load() = default;
        Load(const Load&) = delete;
        Load& operator=(const Load&) = delete;
        // What was not taken in (the owner went meanwhile) is released here.
        ~Load();
    };
    // The load of the photos at `paths`: the elements already loaded from
    // those paths move into it, the rest are released.
    std::shared_ptr<Load> PlanLoad(std::vector<std::string> paths);
    // Reads the photos the load has to read, in order, off the user-interface
    // thread: each through loadOne (null with the reason, empty when there is
    // none to tell, when it cannot) and its prepared copy through prepare.
    // Cancel is offered between two photos; the photos not reached stay unread.
    using Reader = std::function<PanoramaLib::IPanoElement*(const std::string& path, std::string* refusal,
                                                            SamePictures::Fingerprint* print)>;
    using Prepare = std::function<PanoramaLib::IPanoElement*(PanoramaLib::IPanoElement* element)>;
    static void Read(Load& load, IProgressIndicatorEx* progress, const Reader& loadOne,
                     const Prepare& prepare);
    // A load's end: its slots that ended empty are dropped and the rest
    // become the elements. The paths of the refused photos come back, for the
    // project to let them go.
    std::vector<std::string> TakeIn(Load& load);

    // One photo read for the engines; null with the reason (empty: none to
    // tell) when it cannot be, or when an element holds it already (letter
    // case aside). Its pixels' fingerprint goes to print when given.
    PanoramaLib::IPanoElement* LoadOne(const std::string& path, std::string* refusal,
                                       SamePictures::Fingerprint* print) const;

    // The first element loaded from path, with its index when asked.
    static PanoramaLib::IPanoElement* FindByPath(const std::string& path, const ElementVector& elements,
                                                 int* index = nullptr);
    // The paths of the elements at the given indices; indices outside the
    // list or on an empty slot are skipped.
    std::vector<std::string> PathsAt(const std::vector<std::int32_t>& indices) const;
    // The paths of the photos whose size is neither the reference nor the
    // reference turned by 90 degrees. The reference is the most frequent
    // size, and of equal counts the one that reached the count first.
    std::vector<std::string> SizeMismatches() const;
    // The groups of element indices whose pixels were the same when loaded.
    std::vector<std::vector<std::size_t>> SamePictureGroups() const;

    void Clear();

private:
    ElementVector m_elements;
    ElementVector m_prepared;
    std::map<std::string, SamePictures::Fingerprint> m_fingerprints;
    bool m_incomplete = false;
};

#include "CClipDescription.h"

#include <algorithm>

#include "ConverterInterface.h"
#include "Formgate.h"
#include "ProjectFiles.h"

namespace {

// The ids only grow during a run; the photo list lives on the UI thread.
std::int32_t g_nextClipId = 0;

constexpr std::size_t kClipReserved = 127;
constexpr std::size_t kListReserved = 128;
// The least bytes a stored photo takes: a class reference, an empty path, the
// valid byte and the reserved bytes.
constexpr std::size_t kMinStoredClip = 2 + 1 + 1 + kClipReserved;

}  // namespace

CClipDescription::CClipDescription() : m_id(g_nextClipId++) {}

CClipDescription::CClipDescription(const std::string& path) : m_path(path), m_id(g_nextClipId++) {}

CClipDescription::CClipDescription(const CClipDescription& other)
    : m_path(other.m_path),
      m_valid(other.m_valid),
      m_marked(other.m_marked),
      m_tested(other.m_tested),
      m_id(g_nextClipId++) {}

void CClipDescription::Serialize(Archive::Writer& ar) const {
    SerializeObject(ar, m_path);
    ar.WriteByte(m_valid ? 1 : 0);
    SerializeReserved(ar, kClipReserved);
}

void CClipDescription::Serialize(Archive::Reader& ar) {
    SerializeObject(ar, m_path);
    m_valid = ar.ReadByte() != 0;
    SerializeReserved(ar, kClipReserved);
    m_marked = false;
    m_tested = false;
}

CClipDescriptionList::POSITION CClipDescriptionList::Find(const CClipDescription* photo) {
    return std::find_if(m_items.begin(), m_items.end(), [&](const auto& p) { return p.get() == photo; });
}

CClipDescription* CClipDescriptionList::AddCopy(const CClipDescription& photo) {
    m_items.push_back(std::make_unique<CClipDescription>(photo));
    return m_items.back().get();
}

void CClipDescriptionList::AppendCopies(const CClipDescriptionList& other) {
    if (&other == this) {
        const std::size_t n = m_items.size();
        auto it = m_items.begin();
        for (std::size_t i = 0; i < n; ++i, ++it)
            AddCopy(**it);
        return;
    }
    for (const auto& photo : other.m_items)
        AddCopy(*photo);
}

CClipDescription* CClipDescriptionList::AddPath(const std::string& path) {
    m_items.push_back(std::make_unique<CClipDescription>(path));
    return m_items.back().get();
}

void CClipDescriptionList::AddFiles(const std::vector<std::string>& names,
                                    std::vector<CClipDescription*>* alsoAdded) {
    for (const std::string& name : names) {
        CClipDescription* photo = AddPath(name);
        if (alsoAdded)
            alsoAdded->push_back(photo);
    }
    RemoveUnreadable(alsoAdded);
}

void CClipDescriptionList::RemoveAt(POSITION position) {
    if (position != m_items.end())
        m_items.erase(position);
}

void CClipDescriptionList::Remove(const CClipDescription* photo) {
    RemoveAt(Find(photo));
}

CClipDescription* CClipDescriptionList::FindByPath(const std::string& path) const {
    for (const auto& photo : m_items)
        if (photo->GetPath() == path)
            return photo.get();
    return nullptr;
}

void CClipDescriptionList::CollectPaths(std::vector<std::string>& paths) const {
    for (const auto& photo : m_items)
        paths.push_back(photo->GetPath());
}

void CClipDescriptionList::MoveRange(POSITION first, POSITION last, POSITION before) {
    if (before == m_items.end() || before == first)
        return;
    if (first == m_items.end())
        first = m_items.begin();
    POSITION stop = last == m_items.end() ? m_items.end() : std::next(last);
    // Moving a range in front of one of its own nodes would lose its order.
    for (POSITION it = first; it != stop; ++it)
        if (it == before)
            return;
    m_items.splice(before, m_items, first, stop);
}

void CClipDescriptionList::TakeMatching(CClipDescriptionList& source, CClipDescriptionList& target) const {
    for (const auto& photo : m_items) {
        const std::string path = photo->GetPath();
        auto it = std::find_if(source.m_items.begin(), source.m_items.end(),
                               [&](const auto& p) { return p->GetPath() == path; });
        if (it != source.m_items.end())
            target.m_items.splice(target.m_items.end(), source.m_items, it);
    }
}

void CClipDescriptionList::RemoveUnreadable(std::vector<CClipDescription*>* alsoFrom) {
    for (auto it = m_items.begin(); it != m_items.end();) {
        CClipDescription& photo = **it;
        if (!photo.IsTested() && ProjectFiles::IsReadableImageFile(photo.GetPath())) {
            CONVIMAGEINFO info{};
            if (ImExp_GetFileInfo(&info, photo.GetPath().c_str(), 0) == 1) {
                photo.SetValid(true);
                photo.SetTested(true);
            }
        }
        if (photo.IsValid()) {
            ++it;
            continue;
        }
        if (alsoFrom)
            alsoFrom->erase(std::remove(alsoFrom->begin(), alsoFrom->end(), &photo), alsoFrom->end());
        it = m_items.erase(it);
    }
}

void CClipDescriptionList::Serialize(Archive::Writer& ar) const {
    ar.WriteCount(static_cast<std::uint32_t>(m_items.size()));
    for (const auto& photo : m_items) {
        ar.WriteObjectTag(CClipDescription::kClassName, CClipDescription::kSchema);
        photo->Serialize(ar);
    }
    SerializeReserved(ar, kListReserved);
}

void CClipDescriptionList::Serialize(Archive::Reader& ar) {
    Items loaded;
    const std::uint32_t count = ar.ReadCount(kMinStoredClip);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!ar.ReadObjectTag(CClipDescription::kClassName))
            continue;
        auto photo = std::make_unique<CClipDescription>();
        photo->Serialize(ar);
        loaded.push_back(std::move(photo));
    }
    SerializeReserved(ar, kListReserved);
    m_items = std::move(loaded);
}

#pragma once
// The project's photos in stitching order: a photo is a path with a few flags
// and an id unique within the run. The list owns its photos; the document
// keeps one for the project, the photo strip shows it and drag and drop
// carries copies of it in the archive form below.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "Archive.h"
#include "CPath.h"

class CClipDescription {
public:
    static constexpr const char* kClassName = "CClipDescription";
    static constexpr std::uint16_t kSchema = 1;

    CClipDescription();
    explicit CClipDescription(const std::string& path);
    // Path and flags copied; a new id.
    CClipDescription(const CClipDescription& other);
    CClipDescription& operator=(const CClipDescription&) = delete;

    std::string GetPath() const { return m_path.GetPath(); }
    std::string GetFileName() const { return m_path.GetFileName(); }
    const CPath& Path() const { return m_path; }

    bool IsValid() const { return m_valid; }
    void SetValid(bool on) { m_valid = on; }
    bool IsMarked() const { return m_marked; }
    void SetMarked(bool on) { m_marked = on; }
    bool IsTested() const { return m_tested; }
    void SetTested(bool on) { m_tested = on; }
    std::int32_t GetId() const { return m_id; }

    // The path, the valid byte and 127 reserved bytes.
    void Serialize(Archive::Writer& ar) const;
    void Serialize(Archive::Reader& ar);

private:
    CPath m_path;
    bool m_valid = false;
    bool m_marked = false;  // the engine left this photo unmatched
    bool m_tested = false;  // readability was tested
    std::int32_t m_id;
};

class CClipDescriptionList {
public:
    static constexpr const char* kClassName = "CClipDescriptionList";
    static constexpr std::uint16_t kSchema = 1;

    using Items = std::list<std::unique_ptr<CClipDescription>>;
    using POSITION = Items::iterator;

    CClipDescriptionList() = default;
    CClipDescriptionList(const CClipDescriptionList&) = delete;
    CClipDescriptionList& operator=(const CClipDescriptionList&) = delete;

    std::size_t GetCount() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }
    POSITION begin() { return m_items.begin(); }
    POSITION end() { return m_items.end(); }
    Items::const_iterator begin() const { return m_items.begin(); }
    Items::const_iterator end() const { return m_items.end(); }
    POSITION Find(const CClipDescription* photo);

    CClipDescription* AddCopy(const CClipDescription& photo);
    void AppendCopies(const CClipDescriptionList& other);
    CClipDescription* AddPath(const std::string& path);
    // A new photo per name, in order (also appended to alsoAdded when given),
    // then the unreadable ones are removed again.
    void AddFiles(const std::vector<std::string>& names, std::vector<CClipDescription*>* alsoAdded);
    void RemoveAt(POSITION position);
    void Remove(const CClipDescription* photo);
    void DeleteAll() { m_items.clear(); }
    // The photos of the two lists change places (positions stay valid).
    void Swap(CClipDescriptionList& other) { m_items.swap(other.m_items); }
    // The first photo whose whole path equals the given one (case-sensitive).
    CClipDescription* FindByPath(const std::string& path) const;
    void CollectPaths(std::vector<std::string>& paths) const;
    // Moves first (end(): head) through last (end(): tail) in front of before,
    // keeping their order; nothing when before is end() or equals first.
    void MoveRange(POSITION first, POSITION last, POSITION before);
    // For each photo of this list, the first photo of source with the same path
    // moves to the end of target.
    void TakeMatching(CClipDescriptionList& source, CClipDescriptionList& target) const;
    // Tests untested photos (extension, then the module's file information);
    // drops every photo never found valid, also from alsoFrom.
    void RemoveUnreadable(std::vector<CClipDescription*>* alsoFrom);

    // A count, each photo as an object with its class, 128 reserved bytes.
    void Serialize(Archive::Writer& ar) const;
    // Replaces the photos with the archive's; on an archive error the list is
    // left as it was and the error goes to the caller.
    void Serialize(Archive::Reader& ar);

private:
    Items m_items;
};

#pragma once
// A file path kept whole and in its parts (root, folders, title, extension),
// stored in an archive relative to the document's folder where it can be.
// Plain C++: the document and the photo list use it without widgets.

#include <string>

#include "Archive.h"

class CPath {
public:
    CPath() = default;
    explicit CPath(std::string path);
    CPath(const CPath&) = default;
    CPath& operator=(const CPath&) = default;
    virtual ~CPath() = default;

    std::string GetPath() const { return m_path; }
    // Title and extension.
    std::string GetFileName() const { return m_title + m_extension; }
    // Root and folders, ending with '/' when not empty.
    std::string GetFolder() const { return m_root + m_directory; }
    const std::string& GetRoot() const { return m_root; }
    const std::string& GetDirectory() const { return m_directory; }
    const std::string& GetTitle() const { return m_title; }
    const std::string& GetExtension() const { return m_extension; }

    void Parse(bool force);
    void MakeRelativeTo(const std::string& documentPath);
    void MakeAbsoluteFrom(const std::string& documentPath);

    void SetRelativeStoring(bool on) { m_relativeStoring = on; }

    virtual void Serialize(Archive::Writer& ar) const;
    virtual void Serialize(Archive::Reader& ar);

private:
    std::string m_path;
    bool m_parsed = true;
    std::string m_root;       // "/" for an absolute path, else empty
    std::string m_directory;  // ends with '/' when not empty
    std::string m_title;
    std::string m_extension;  // from the last '.', dot included
    bool m_relativeStoring = true;
};

// Calls the object's Serialize and gives the archive back, so that serialised
// members chain.
template <class Object, class Ar>
Ar& SerializeObject(Ar& ar, Object& object) {
    object.Serialize(ar);
    return ar;
}

// n zero bytes when storing; n bytes read and dropped when loading (the
// archive's end-of-data error on a short read).
inline Archive::Writer& SerializeReserved(Archive::Writer& ar, std::size_t n) {
    ar.WriteZeros(n);
    return ar;
}
inline Archive::Reader& SerializeReserved(Archive::Reader& ar, std::size_t n) {
    ar.Skip(n);
    return ar;
}

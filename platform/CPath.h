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

    std::string GetPath() const { return path_; }
    // Title and extension.
    std::string GetFileName() const { return title_ + extension_; }
    // Root and folders, ending with '/' when not empty.
    std::string GetFolder() const { return root_ + directory_; }
    const std::string& GetRoot() const { return root_; }
    const std::string& GetDirectory() const { return directory_; }
    const std::string& GetTitle() const { return title_; }
    const std::string& GetExtension() const { return extension_; }

    void Parse(bool force);
    void MakeRelativeTo(const std::string& documentPath);
    void MakeAbsoluteFrom(const std::string& documentPath);

    void SetRelativeStoring(bool on) { relativeStoring_ = on; }

    virtual void Serialize(Archive::Writer& ar) const;
    virtual void Serialize(Archive::Reader& ar);

private:
    std::string path_;
    bool parsed_ = true;
    std::string root_;       // "/" for an absolute path, else empty
    std::string directory_;  // ends with '/' when not empty
    std::string title_;
    std::string extension_;  // from the last '.', dot included
    bool relativeStoring_ = true;
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

#include "CPath.h"

#include <utility>

CPath::CPath(std::string path) : path_(std::move(path)), parsed_(false) {
    Parse(true);
}

void CPath::Parse(bool force) {
    if (parsed_ && !force)
        return;
    std::string s = path_;
    root_.clear();
    if (!s.empty() && s[0] == '/') {
        root_ = "/";
        s.erase(0, 1);
    }
    const std::size_t dot = s.rfind('.');
    const std::size_t slash = s.rfind('/');
    extension_.clear();
    if (dot != std::string::npos && (slash == std::string::npos || slash < dot)) {
        extension_ = s.substr(dot);
        s.erase(dot);
    }
    if (slash == std::string::npos) {
        title_ = s;
        directory_.clear();
    } else {
        title_ = s.substr(slash + 1);
        directory_ = s.substr(0, slash);
        if (!directory_.empty())
            directory_ += '/';
    }
    parsed_ = true;
}

void CPath::MakeRelativeTo(const std::string& documentPath) {
    if (documentPath.empty())
        return;
    const std::string folder = CPath(documentPath).GetFolder();
    if (!root_.empty()) {
        const std::string own = GetFolder();
        if (own.compare(0, folder.size(), folder) != 0)
            return;  // elsewhere: stays absolute
        path_ = own.substr(folder.size()) + GetFileName();
    } else {
        // Keep the relative folders: dropping them would name another file.
        path_ = folder + directory_ + GetFileName();
    }
    Parse(true);
}

void CPath::MakeAbsoluteFrom(const std::string& documentPath) {
    if (documentPath.empty() || !root_.empty())
        return;
    path_ = CPath(documentPath).GetFolder() + path_;
    Parse(true);
}

void CPath::Serialize(Archive::Writer& ar) const {
    if (relativeStoring_ && !ar.DocumentPath().empty()) {
        CPath relative(*this);
        relative.MakeRelativeTo(ar.DocumentPath());
        ar.WriteString(relative.path_);
    } else {
        ar.WriteString(path_);
    }
}

void CPath::Serialize(Archive::Reader& ar) {
    if (relativeStoring_ && !ar.DocumentPath().empty()) {
        CPath loaded(ar.ReadString());
        loaded.MakeAbsoluteFrom(ar.DocumentPath());
        path_ = loaded.path_;
    } else {
        path_ = ar.ReadString();
    }
    Parse(true);
}

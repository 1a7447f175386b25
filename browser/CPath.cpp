#include "CPath.h"

#include <utility>

CPath::CPath(std::string path) : m_path(std::move(path)), m_parsed(false) {
    Parse(true);
}

void CPath::Parse(bool force) {
    if (m_parsed && !force)
        return;
    std::string s = m_path;
    m_root.clear();
    if (!s.empty() && s[0] == '/') {
        m_root = "/";
        s.erase(0, 1);
    }
    const std::size_t dot = s.rfind('.');
    const std::size_t slash = s.rfind('/');
    m_extension.clear();
    if (dot != std::string::npos && (slash == std::string::npos || slash < dot)) {
        m_extension = s.substr(dot);
        s.erase(dot);
    }
    if (slash == std::string::npos) {
        m_title = s;
        m_directory.clear();
    } else {
        m_title = s.substr(slash + 1);
        m_directory = s.substr(0, slash);
        if (!m_directory.empty())
            m_directory += '/';
    }
    m_parsed = true;
}

void CPath::MakeRelativeTo(const std::string& documentPath) {
    if (documentPath.empty())
        return;
    const std::string folder = CPath(documentPath).GetFolder();
    if (!m_root.empty()) {
        const std::string own = GetFolder();
        if (own.compare(0, folder.size(), folder) != 0)
            return;  // elsewhere: stays absolute
        m_path = own.substr(folder.size()) + GetFileName();
    } else {
        // Keep the relative folders: dropping them would name another file.
        m_path = folder + m_directory + GetFileName();
    }
    Parse(true);
}

void CPath::MakeAbsoluteFrom(const std::string& documentPath) {
    if (documentPath.empty() || !m_root.empty())
        return;
    m_path = CPath(documentPath).GetFolder() + m_path;
    Parse(true);
}

void CPath::Serialize(Archive::Writer& ar) const {
    if (m_relativeStoring && !ar.DocumentPath().empty()) {
        CPath relative(*this);
        relative.MakeRelativeTo(ar.DocumentPath());
        ar.WriteString(relative.m_path);
    } else {
        ar.WriteString(m_path);
    }
}

void CPath::Serialize(Archive::Reader& ar) {
    if (m_relativeStoring && !ar.DocumentPath().empty()) {
        CPath loaded(ar.ReadString());
        loaded.MakeAbsoluteFrom(ar.DocumentPath());
        m_path = loaded.m_path;
    } else {
        m_path = ar.ReadString();
    }
    Parse(true);
}

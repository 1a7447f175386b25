#pragma once
// The parts of a file path the browser shows and compares: its name, its
// title (the name without its extension) and its extension, and
// case-blind comparisons of names.

#include <cctype>
#include <string>

// The name after the last '/', or the whole path when it has none.
inline std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name without its last extension; a name whose only dot leads it
// (".profile") is all title.
inline std::string TitleOf(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The name's last extension with its dot; empty when the name has no dot.
inline std::string ExtensionOf(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

// Names compare case-blind in ASCII only: they are bytes, not always UTF-8.
inline bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The order of two names, case-blind as EqualNoCase: <0, 0 or >0.
inline int CompareNoCase(const std::string& a, const std::string& b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

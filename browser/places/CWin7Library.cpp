#include "CWin7Library.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>

namespace {

std::unique_ptr<CWin7Library> g_library;

}  // namespace

void CWin7Library::AddListener(ILibUpdate* listener) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_listeners.push_back(listener);
}

void CWin7Library::RemoveListener(ILibUpdate* listener) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

size_t CWin7Library::ListenerCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_listeners.size();
}

bool CWin7Library::IsLibraryPath(const std::string& text) {
    static const std::string kSuffix = ".library-ms";
    if (text.size() <= kSuffix.size())
        return false;
    return std::equal(kSuffix.begin(), kSuffix.end(), text.end() - kSuffix.size(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

bool CreateWin7Library() {
    if (!g_library)
        g_library.reset(new (std::nothrow) CWin7Library);
    return g_library != nullptr;
}

CWin7Library* GetWin7Library() {
    return g_library.get();
}

void DestroyWin7Library() {
    g_library.reset();
}

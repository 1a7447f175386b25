#include "StaleTemporaries.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace Platform {

bool ProcessAlive(long pid) {
    if (pid <= 0)
        return false;
    // EPERM: it runs, under another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

long PidInName(const std::string& name, std::size_t at, std::size_t length) {
    if (length == 0 || length > 9 || at > name.size() || name.size() - at < length)
        return 0;
    long pid = 0;
    for (std::size_t i = at; i < at + length; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return pid;
}

void RemoveStaleTemporaries(const std::string& folder, TemporaryOwner ownerOf) {
    struct DirCloser {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return;
    const long self = static_cast<long>(::getpid());
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        const long owner = ownerOf(name);
        if (owner > 0 && owner != self && !ProcessAlive(owner))
            stale.push_back(name);
    }
    dir.reset();
    for (const std::string& name : stale) {
        std::error_code ec;
        // remove_all removes a link itself and does not follow links inside a folder.
        std::filesystem::remove_all(std::filesystem::path(folder) / name, ec);
    }
}

}  // namespace Platform

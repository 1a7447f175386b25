#pragma once
// Watches how a save reaches the disk: replaces fsync and rename for the whole
// test program (the definitions here take precedence over the C library's), so a
// test can see which file or folder was flushed, in what order with the rename,
// and make a rename fail with a chosen errno. Include it in exactly one source
// file of a test program.

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

namespace SyncProbe {

struct Event {
    enum Kind { SyncFile, SyncFolder, Rename } kind;
    ino_t inode = 0;       // of what was flushed, or of the file renamed
    std::string from, to;  // a rename's names
};

struct State {
    std::mutex mutex;
    bool recording = false;
    int failRenames = 0;  // when not 0, every rename fails with this errno
    std::vector<Event> events;
};

inline State& TheState() {
    static State state;
    return state;
}

// Records from construction to destruction; failRename makes renames fail meanwhile.
class Recorder {
public:
    explicit Recorder(int failRename = 0) {
        std::lock_guard lock(TheState().mutex);
        TheState().recording = true;
        TheState().failRenames = failRename;
        TheState().events.clear();
    }
    ~Recorder() {
        std::lock_guard lock(TheState().mutex);
        TheState().recording = false;
        TheState().failRenames = 0;
    }
    std::vector<Event> Events() const {
        std::lock_guard lock(TheState().mutex);
        return TheState().events;
    }
};

inline ino_t InodeOf(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

}  // namespace SyncProbe

extern "C" int fsync(int fd) {
    using Real = int (*)(int);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "fsync"));
    SyncProbe::State& state = SyncProbe::TheState();
    {
        std::lock_guard lock(state.mutex);
        struct stat info;
        if (state.recording && ::fstat(fd, &info) == 0)
            state.events.push_back(
                {S_ISDIR(info.st_mode) ? SyncProbe::Event::SyncFolder : SyncProbe::Event::SyncFile,
                 info.st_ino,
                 {},
                 {}});
    }
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    using Real = int (*)(const char*, const char*);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "rename"));
    SyncProbe::State& state = SyncProbe::TheState();
    {
        std::lock_guard lock(state.mutex);
        if (state.recording) {
            state.events.push_back({SyncProbe::Event::Rename, SyncProbe::InodeOf(from), from, to});
            if (state.failRenames) {
                errno = state.failRenames;
                return -1;
            }
        }
    }
    return real(from, to);
}

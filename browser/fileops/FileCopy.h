#pragma once
// Copying and moving a file or folder onto a name that must be free, so
// nothing is ever replaced: a copy is written under a temporary name and
// renamed into place once whole, and a partial copy (failed, cancelled or
// killed with the process) is removed again; a move across file systems
// removes its source only once the copy stands.

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

// What a running copy reports and asks: bytes as they are written, and
// between the files of a folder whether to stop (the copy then fails with
// operation_canceled and its partial result is removed). Either may be empty.
struct CopyObserver {
    std::function<void(uint64_t bytes)> written;
    std::function<bool()> cancelled;
};

std::error_code CopyNoReplace(const std::string& from, const std::string& to,
                              const CopyObserver* observer = nullptr);
std::error_code MoveNoReplace(const std::string& from, const std::string& to,
                              const CopyObserver* observer = nullptr);

// Whether a file name is that of a copy not yet renamed into place (its
// own process's or a killed one's): never a photo to show.
bool IsCopyTemporary(const std::string& name);

// Whether the folder `path` names is `folder` or lies below it, through any
// link or doubled slash: compared by device and inode up the resolved path.
bool IsSameOrInside(const std::string& path, const std::string& folder);

// The bytes of the regular files at path, folders followed (links are not).
uint64_t TreeSize(const std::string& path);

// Whether anything stands at path (a link that leads nowhere too).
bool PathExists(const std::string& path);
// folder + "/" + name, without doubling a slash folder ends in.
std::string JoinedPath(const std::string& folder, const std::string& name);

// "title (2).ext", "title (3).ext" ...: the first name free in folder.
std::string CollisionName(const std::string& folder, const std::string& fileName);

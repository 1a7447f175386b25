#pragma once
// Removable media on Linux: the mounted file systems that a desktop shows as
// removable, standing in for the drive letters of removable drives.

#include <functional>
#include <string>
#include <vector>

// Mount points of removable media, sorted: those under /media or /run/media,
// and those whose block device says it is removable.
std::vector<std::string> ListRemovableMounts();

// The same from the text of /proc/self/mountinfo; isRemovableDevice is asked
// with a device's "major:minor".
std::vector<std::string> ParseRemovableMounts(
    const std::string& mountinfo, const std::function<bool(const std::string&)>& isRemovableDevice);

// Where a path lies: 0 a fixed volume, 1 removable media, 2 a removable
// medium that is not mounted (any more).
int GetPathDriveKind(const char* path);
// The same against a given mount table (/proc/self/mountinfo's text) and
// device test; relative paths are taken from the current folder.
int GetPathDriveKind(const std::string& path, const std::string& mountinfo,
                     const std::function<bool(const std::string&)>& isRemovableDevice);

#pragma once
// The search for a camera's picture folder on mounted removable drives.

#include <string>
#include <vector>

// The camera folder (DCIM/NNNxxxxx) on the given mount points, the last one
// found; without one, a mount whose top folder holds a readable image.
bool ScanMountsForDcim(const std::vector<std::string>& mounts, std::string& path);
bool FindMountWithImages(const std::vector<std::string>& mounts, std::string& path);

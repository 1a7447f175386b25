#pragma once
// A file's size by its name, and clearing the files out of a folder.

#include <cstdint>
#include <string>

// 0 when the file is missing (or is a folder).
uint64_t GetFileSizeByName(const std::string& path);
// Deletes the files of a folder (read-only ones too), not its subfolders;
// errors are ignored.
void DeleteFolderFiles(const std::string& folder);

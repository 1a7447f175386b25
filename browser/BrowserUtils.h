#pragma once
// Free functions that the photo browser and the main frame share: file
// operations (rename, copy, move, delete to the trash), file size, clearing
// a folder, the date a photo was taken and its description, the search for a
// camera's picture folder on removable media, text measures, a processor
// speed figure and the product table of the preview sampler.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class QString;
class QWidget;

// Operations and flags with the values the browser passes around.
enum FileOperation : unsigned { FO_MOVE = 1, FO_COPY = 2, FO_DELETE = 3, FO_RENAME = 4 };
enum FileOperationFlag : unsigned {
    FOF_RENAMEONCOLLISION = 0x8,  // a copy or move onto a taken name gets a free name
    FOF_ALLOWUNDO = 0x40,         // deleting moves to the trash
    FOF_NOERRORUI = 0x400,        // failures are not reported to the user
};

// newName (no folder, no extension) becomes old folder + newName + old
// extension, returned in newName. Never replaces an existing file. A failure
// is reported to the user (an empty name is no rename and says nothing).
bool ShellRenameFile(const std::string& oldPath, std::string& newName);

// Copies or moves paths into the folder target, deletes them, or renames
// paths[0] to target. Paths whose status cannot be read are dropped; false
// when all were dropped, when one failed, or when the user declined. The
// operation stops at the first failure and, unless FOF_NOERRORUI is set,
// reports it with the system's reason; what was done before stays done, and
// sources are left intact when their operation fails.
// The browser's pastes, drops and deletes pass flagA clear and flagB set:
// a copy or move onto a taken name gets a free name, and failures are
// reported (a clear flagB would silence them).
bool ShellFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                        bool flagA, bool flagB);
// The flags ShellFileOperation uses, with the Shift key's state given.
unsigned FileOperationFlags(unsigned operation, bool shiftHeld, bool flagA, bool flagB);
// The flags applied: the work of ShellFileOperation without the window handling.
bool RunFileOperation(unsigned operation, const std::vector<std::string>& paths, const std::string& target,
                      unsigned flags);

// "title (2).ext", "title (3).ext" ...: the first name free in folder.
std::string CollisionName(const std::string& folder, const std::string& fileName);

// 0 when the file is missing (or is a folder).
uint64_t GetFileSizeByName(const std::string& path);
// Deletes the files of a folder (read-only ones too), not its subfolders;
// errors are ignored.
void DeleteFolderFiles(const std::string& folder);

// The date taken (36867, then 36868, then 306) of a ".JPG", ".TIF", ".TIFF"
// or ".DNG" file as local time.
bool GetExifDateTime(const std::string& path, std::time_t& when);
// The image description (270) of a ".JPG" or ".TIF" file; "" otherwise.
std::string GetImageDescription(const std::string& path);
bool IsJpegOrTiff(const std::string& path);

// The camera folder (DCIM/NNNxxxxx) on the given mount points, the last one
// found; without one, a mount whose top folder holds a readable image.
bool ScanMountsForDcim(const std::vector<std::string>& mounts, std::string& path);
bool FindMountWithImages(const std::vector<std::string>& mounts, std::string& path);

QString GetDefaultGuiFontName();

// Processor clock ticks per microsecond, from a 50 ms busy wait.
void MeasureCpuSpeed(uint32_t& ticksPerMicrosecond);

// row x column for 0..15: the weights of the bilinear preview sampler.
using ProductTable = uint32_t[16][16];
// The table, asked for before an embedded thumbnail is decoded; it is built
// at compile time, so this only hands it out.
const ProductTable& BuildProductTable16();

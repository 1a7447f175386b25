#pragma once
// Reading and writing of image files for the engine's pixel buffers, on
// libjpeg-turbo, libpng, libtiff and our own BMP code. No Qt here: the engine
// must stay free of it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "StaleTemporaries.h"

namespace Platform {

// Outcome of an image-file operation; callers map each to their own text.
enum class ImageFileStatus {
    Ok,
    OutOfMemory,
    FileNotFound,
    AccessDenied,
    UnknownImageFormat,  // no encoder for the requested extension
    Unsupported,         // not a readable 3-channel, 8-bit-per-channel colour file
    Other,
};

enum class ImageFileFormat { Bmp, Jpeg, Png, Tiff };

// The encoder for a path's extension, compared without regard to case:
// ".bmp", ".jpg"/".jpeg", ".png", ".tif"/".tiff"; nothing for any other.
std::optional<ImageFileFormat> FormatFromExtension(const std::string& path);

// Receives a decoded picture: Allocate once, then each row is filled in.
class IRgbSink {
public:
    virtual ~IRgbSink() = default;
    // False when the memory cannot be had.
    virtual bool Allocate(int width, int height) = 0;
    // Row 0 is the top of the picture; width * 3 bytes, ordered B, G, R.
    virtual std::uint8_t* RowBgr(int pictureRow) = 0;
};

// Decodes a regular file (a FIFO, device or folder is refused at once, without
// waiting on it) that holds a 24-bit colour picture (three 8-bit channels, no
// alpha, no palette, no grey, no CMYK). The format is told by the file's first
// bytes, not its name. Every failure to read or decode gives Unsupported;
// a failed Allocate gives OutOfMemory. The sink is not touched before the
// header has been accepted.
ImageFileStatus DecodeRgb24(const std::string& utf8Path, IRgbSink& sink);

// A picture in memory: rows bottom-up (row 0 in memory is the bottom row),
// stride bytes apart; 24-bit pixels are B, G, R; 8-bit pixels are grey levels.
struct ImageView {
    const std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int bpp = 24;  // 8 or 24
    std::size_t stride = 0;
};

// Encodes the picture through a FileReplacement, so a failed save never damages
// an existing file and leaves no temporary file. A target that is a folder is
// refused before anything is encoded. errno maps to FileNotFound (ENOENT,
// ENOTDIR), AccessDenied (EACCES, EPERM, EROFS, EISDIR), OutOfMemory (ENOMEM)
// and Other.
ImageFileStatus EncodeImage(const std::string& utf8Path, ImageFileFormat format, const ImageView& view);

// Replaces a file in one step. The new content goes to a temporary file in the
// folder of the file the target finally names (a symbolic link is followed and
// stays a link to the replaced file), which Commit flushes to disk, renames over
// that file, and then flushes the folder so the rename itself survives a crash.
// Until Commit succeeds the target is as it was; the temporary file is removed
// by every failure and by the destructor. An existing file's permissions are
// kept; a new one gets 0666 less the umask.
class FileReplacement {
public:
    // The temporary file's name (without folder) from the target's name and a
    // random number; a clash with an existing file is retried with another.
    // A name carries the writer's process id, which the matching
    // TemporaryOwner reads back (see StaleTemporaries.h).
    using NameMaker = std::string (*)(const std::string& targetName, std::uint64_t random);

    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement() { Abandon(); }

    // Resolves the target and creates the temporary file; 0 or an errno:
    // EISDIR for a folder (or a link to one, or a name ending in '/'), ELOOP
    // for links that never end, else the errno of the failing call. Nothing
    // is created on failure. First the folder's temporaries of this kind
    // whose writer no longer runs are removed (ownerOf reads a name given
    // makeName; the default name has its own).
    int Begin(const std::string& target, NameMaker makeName = nullptr, TemporaryOwner ownerOf = nullptr);

    // Open for reading and writing until Commit or Abandon; -1 before Begin.
    int Descriptor() const { return fd_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // The file that Commit replaces: the target with its links resolved.
    const std::string& FinalPath() const { return final_; }

    // fsync, close, rename over FinalPath, fsync of its folder; 0 or the errno
    // of the failure, after which the temporary file is gone.
    int Commit();
    // Closes and removes the temporary file, if any.
    void Abandon();

private:
    std::string final_;
    std::string temporary_;
    int fd_ = -1;
};

}  // namespace Platform

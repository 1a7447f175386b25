#pragma once
// Opening files for reading without being stalled or flooded by what a path
// may name: a FIFO would block an ordinary open for ever, and a device such as
// /dev/zero never ends. Every reader of the program opens through here.

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// Whether the last part of the path may be a symbolic link. Links the user
// made are followed; the program's own cache folders refuse links planted in them.
enum class FinalLink { Follow, Refuse };

// Opens a regular file read-only (close-on-exec) and gives its descriptor, or
// -1 with errno set: the open's own errno (ENOENT, EACCES, ...), ELOOP for a
// refused link, EISDIR for a folder, EINVAL for anything else that is not a
// regular file (FIFO, device, socket), EFBIG when it holds more than maxBytes.
// The open does not wait on a FIFO's writer; the descriptor is blocking again.
// A photo of any format the program reads stays far below this.
inline constexpr std::uint64_t kMaxPhotoBytes = std::uint64_t(4) << 30;

int OpenForReading(const std::string& path, std::uint64_t maxBytes, FinalLink link = FinalLink::Follow);

// The whole content of a regular file of at most maxBytes; 0 or an errno as
// OpenForReading gives (EFBIG also when the file grows past the cap while it
// is read). The output is empty on failure.
int ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                  FinalLink link = FinalLink::Follow);
int ReadWholeFile(const std::string& path, std::uint64_t maxBytes, std::vector<std::uint8_t>& bytes,
                  FinalLink link = FinalLink::Follow);

}  // namespace Platform

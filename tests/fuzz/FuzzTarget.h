#pragma once
// What every fuzz target defines: the libFuzzer entry point, and the seeds
// its reader's own writer makes (the replay driver writes them out with
// --write-seeds, which is how the checked-in corpora were made).

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

using FuzzSeeds = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;
FuzzSeeds MakeFuzzSeeds();

namespace Fuzz {

// Rewrites a file with the bytes. Written over and then cut to size, not
// emptied first: a file system that frees and discards an emptied file's
// blocks at once makes every input cost milliseconds.
inline void WriteFile(const std::string& path, const void* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, static_cast<const char*>(data) + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    (void)::ftruncate(fd, static_cast<off_t>(done));
    ::close(fd);
}

// For readers that take a path: the input in a file of this process's own,
// rewritten for every input. The name keeps the extension the reader wants.
inline std::string InputFile(const std::uint8_t* data, std::size_t size, const std::string& extension) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/ovh-fuzz-" + std::to_string(::getpid()) + extension;
    WriteFile(path, data, size);
    return path;
}

// A small file's bytes (for seeds a writer put in a file), then the file removed.
inline std::vector<std::uint8_t> TakeFile(const std::string& path) {
    std::vector<std::uint8_t> bytes(1 << 16);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    bytes.resize(f ? std::fread(bytes.data(), 1, bytes.size(), f) : 0);
    if (f)
        std::fclose(f);
    std::remove(path.c_str());
    return bytes;
}

inline std::vector<std::uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// For readers that take several inputs at once (two replies in a row, a file
// list and the mount table): the input's parts between separator lines. The
// last part takes the rest; parts the input lacks are empty.
inline constexpr std::string_view kPartSeparator = "\n--8<--\n";

inline std::vector<std::string> Parts(const std::uint8_t* data, std::size_t size, std::size_t count) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts(count);
    std::size_t at = 0;
    for (std::size_t i = 0; i < count && at <= input.size(); ++i) {
        const std::size_t end = i + 1 < count ? input.find(kPartSeparator, at) : std::string_view::npos;
        parts[i] =
            std::string(input.substr(at, end == std::string_view::npos ? input.size() - at : end - at));
        at = end == std::string_view::npos ? input.size() + 1 : end + kPartSeparator.size();
    }
    return parts;
}

// A seed of several parts.
inline std::vector<std::uint8_t> Joined(std::initializer_list<std::string_view> parts) {
    std::string joined;
    bool first = true;
    for (const std::string_view part : parts) {
        if (!first)
            joined += kPartSeparator;
        joined += part;
        first = false;
    }
    return Bytes(joined);
}

// A broken promise of the code under test: fuzzing reports it as a crash.
inline void Expect(bool holds) {
    if (!holds)
        std::abort();
}

}  // namespace Fuzz

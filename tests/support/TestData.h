#pragma once
// Where the shared photos are, a per-test scratch folder, and the id of a
// process that no longer runs.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <string>

namespace TestData {

inline std::filesystem::path SharedData() {
    return std::filesystem::path(OVH_SHARED_DATA);
}

inline std::filesystem::path Photo(const std::string& relative) {
    return SharedData() / "photos" / relative;
}

// True when the shared photos are present; otherwise the caller skips.
inline bool HavePhotos() {
    return std::filesystem::is_directory(SharedData() / "photos");
}

#define OVH_REQUIRE_PHOTOS()                                 \
    do {                                                     \
        if (!TestData::HavePhotos())                         \
            GTEST_SKIP() << "shared photos are not present"; \
    } while (0)

// A fresh empty folder for one test, removed when it goes out of scope.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
        for (char& c : name)
            if (c == '/')
                c = '_';
        path_ =
            std::filesystem::temp_directory_path() / ("ovh-test-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The id of a child that has exited and been reaped: as a writer of
// temporary files, one that was killed.
inline long ExitedProcessId() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<long>(child);
}

}  // namespace TestData

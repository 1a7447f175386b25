#include "Profile.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "IniFile.h"

namespace {

std::mutex g_mutex;
std::unique_ptr<Platform::IniFile> g_file;

std::string DefaultPath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = std::string(home) + "/.config";
    else base = ".";
    return base + "/ORVEX Horizel/OvHorizel.ini";
}

Platform::IniFile& File() {
    if (!g_file) g_file = std::make_unique<Platform::IniFile>(DefaultPath());
    return *g_file;
}

void EnsureFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
}

}  // namespace

std::string AppProfile::GetPath() {
    std::lock_guard lock(g_mutex);
    return File().Path();
}

void AppProfile::SetPath(std::string path) {
    std::lock_guard lock(g_mutex);
    g_file = std::make_unique<Platform::IniFile>(std::move(path));
}

int AppProfile::GetProfileInt(std::string_view section, std::string_view key, int defaultValue) {
    std::lock_guard lock(g_mutex);
    return File().GetInt(section, key, defaultValue);
}

std::string AppProfile::GetProfileString(std::string_view section, std::string_view key,
                                         std::string_view defaultValue) {
    std::lock_guard lock(g_mutex);
    return File().GetString(section, key, defaultValue);
}

bool AppProfile::WriteProfileInt(std::string_view section, std::string_view key, int value) {
    std::lock_guard lock(g_mutex);
    EnsureFolder(File().Path());
    return File().WriteInt(section, key, value);
}

bool AppProfile::WriteProfileString(std::string_view section, std::string_view key, std::string_view value) {
    std::lock_guard lock(g_mutex);
    EnsureFolder(File().Path());
    return File().WriteString(section, key, value);
}

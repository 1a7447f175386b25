#pragma once
// The program's profile: per-user settings kept in one INI file under
// "$XDG_CONFIG_HOME/ORVEX Horizel/"
// with private-profile semantics (case-insensitive names, the caller's default
// for a missing key, every write atomic). Safe to call from any thread.

#include <string>
#include <string_view>

namespace AppProfile {

// The file in use; by default "<config>/ORVEX Horizel/OvHorizel.ini" where
// <config> is $XDG_CONFIG_HOME or ~/.config.
std::string GetPath();
// Points the profile at another file (tests, a portable set-up). The folder is
// created on the first write.
void SetPath(std::string path);

int GetProfileInt(std::string_view section, std::string_view key, int defaultValue);
std::string GetProfileString(std::string_view section, std::string_view key, std::string_view defaultValue = {});
// False when the file cannot be written; the old file then stays as it was.
bool WriteProfileInt(std::string_view section, std::string_view key, int value);
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value);

}  // namespace AppProfile

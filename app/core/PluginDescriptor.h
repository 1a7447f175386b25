#pragma once
// The plug-in descriptor through which another program of the same maker can
// offer this one for a selection of two or more images. "/Register" writes it,
// "/Unregister" deletes it; failures are silent.

#include <cstdint>
#include <string>

namespace PluginDescriptor {

// The program's version word: major in the high half, minor in the low half.
uint32_t GetFileVersionMS();
// "OvHorizel2.%02hx.%02hx.ovplugin" for that version word.
std::string FileName(uint32_t versionMS);
// The shared descriptor folder: the per-user data folder ($XDG_DATA_HOME or
// ~/.local/share) followed by "ORVEX/PLUGINS".
std::string DefaultFolder();

// The descriptor's XML for the program file `exePath` and the display names
// `text` (string 347; its line feeds become '|').
std::string BuildXml(const std::string& exePath, const std::string& text);

// Writes (reg) or deletes the descriptor in `folder` (created when missing).
// False when nothing could be written or deleted; callers ignore it.
bool RegisterPlugin(bool reg, const std::string& folder, const std::string& exePath, uint32_t versionMS);

}  // namespace PluginDescriptor

// Creates the folders of a path one level at a time. With fallbackToTemp, a
// path that still does not exist is replaced by the temporary folder. True when
// the (possibly replaced) path exists; a final '/' is kept.
bool EnsureFolderPath(std::string& path, bool fallbackToTemp);

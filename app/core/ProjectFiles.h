#pragma once
// Which files the project accepts as photos: the readable extensions the
// import/export module reports, kept for the run, and the extension test.

#include <string>
#include <string_view>

namespace ProjectFiles {

// The list used when the module reports no format.
inline constexpr const char* kDefaultReadableExtensions = ".bmp;.jpg;.tif;.png;";

// Lower-case extensions with their dots, ';'-separated.
const std::string& ReadableExtensions();
void SetReadableExtensions(std::string extensions);
// Builds the list from the module's read formats (pairs of description and
// "*.ext;*.ext" patterns, NUL-separated); the default when it has none.
std::string ExtensionsFromFormatList(const char* list, std::size_t size);

// The lower-cased extension (from the last '.' after the last '/'), dot included.
std::string LowerExtension(std::string_view path);
// True when the path's lower-cased extension, dot included, has at least four
// characters and occurs in the readable list (a substring test, so ".tif"
// passes with ".tiff" listed).
bool IsReadableImageFile(std::string_view path);
// The path without its folder.
std::string FileNameOf(std::string_view path);

}  // namespace ProjectFiles

#pragma once
// The extensions of the image files the program reads, as the import/export
// module lists them, and the program-wide test of a path against them.

#include <string>
#include <string_view>

namespace ReadableExtensions {

inline constexpr const char* kFallback = ".bmp;.jpg;.tif;.png;";

// Turns the module's read-format list (NUL-separated description/pattern
// pairs, `size` bytes as the module's size query gave) into the lower-case
// text the test searches: NULs become '|'. An empty list gives the fallback.
std::string FromModuleList(const char* buffer, size_t size);
// Asks Formgate for its list (ImExp_FillReadFormatsInfo) and converts it.
std::string FromModule();

// True when the path's extension (with its dot, lower-cased) has at least four
// characters and occurs in the list.
bool IsReadable(std::string_view path, std::string_view list);

// The list held for the whole run (set once at start-up; the fallback until
// then). Safe to read from any thread once set.
void SetProgramList(std::string list);
const std::string& ProgramList();

}  // namespace ReadableExtensions

// The program-wide test against the run's list.
bool IsReadableImageFile(std::string_view path);

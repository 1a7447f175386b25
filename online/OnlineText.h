#pragma once
// The online services' texts from the program's string table.

#include <initializer_list>
#include <string>

namespace OnlineText {

inline constexpr unsigned kNoConnection = 313;
inline constexpr unsigned kLoginIncorrect = 314;
inline constexpr unsigned kUploadingOf = 316;
inline constexpr unsigned kFilesNotUploaded = 317;
inline constexpr unsigned kUploadingRequires = 319;
inline constexpr unsigned kFileCreated = 327;
inline constexpr unsigned kSelectFiles = 328;
inline constexpr unsigned kUploaded = 329;
inline constexpr unsigned kCriticalUpdates = 339;
inline constexpr unsigned kNoUpdates = 341;
inline constexpr unsigned kUpdateServerUnreachable = 0xFB40;
inline constexpr unsigned kUploadedNoOrderPage = 0xFB41;

std::string Load(unsigned id);
// The text with its "%i"/"%d" fields replaced by the numbers in order.
std::string Format(unsigned id, std::initializer_list<int> numbers);
// The text with its "%s" fields replaced by the strings in order (never
// read as formats themselves).
std::string Format(unsigned id, std::initializer_list<std::string> strings);

}  // namespace OnlineText

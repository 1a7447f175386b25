#pragma once
// What the browser reads from a photo's EXIF fields by itself: the date it
// was taken (to sort by) and its description.

#include <ctime>
#include <string>

// The date taken (36867, then 36868, then 306) of a ".JPG", ".TIF", ".TIFF"
// or ".DNG" file as local time.
bool GetExifDateTime(const std::string& path, std::time_t& when);
// The image description (270) of a ".JPG" or ".TIF" file; "" otherwise.
std::string GetImageDescription(const std::string& path);
bool IsJpegOrTiff(const std::string& path);

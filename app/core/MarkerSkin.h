#pragma once
// The three marker bitmaps of the matching dialog and their hot points, as the
// skin names them: section "MARKERS", keys "marker1".."marker3" (a file in the
// Res folder) and "hotpoint1".."hotpoint3" ("x,y" in bitmap pixels).

#include <QPoint>
#include <functional>
#include <string>
#include <string_view>

struct MarkerSkin {
    std::string files[3];  // full paths; "" when the skin names none
    QPoint hotPoints[3];
};

// Reads the six keys through skinString(key) (the "MARKERS" section's value,
// "" when missing). A file name is joined to resFolder; a hot point that does
// not parse as two integers stays 0,0.
MarkerSkin ReadMarkerSkin(const std::function<std::string(std::string_view key)>& skinString,
                          std::string_view resFolder);

// Hot point coordinates are held within this of the bitmap's corner.
inline constexpr int kMaxHotPointOffset = 1 << 16;

// "x,y" with optional blanks before each number; false for anything else.
// Each coordinate is clamped to +-kMaxHotPointOffset.
bool ParseHotPoint(std::string_view text, QPoint& out);

#pragma once
// The skin file "resourses.ini" in the Res folder: colours, texts and image
// names by section and key. Every call reads the file anew, so a skin edited
// while the program runs shows at the next paint. A missing file or key gives
// the caller's default; nothing is reported.

#include <cstdint>
#include <string>
#include <string_view>

// A colour in the skin's order: red, green, blue.
struct SkinRgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const SkinRgb&) const = default;
};

class CSkinFile {
public:
    // Skin values are cut at this many characters (the reader's buffer held
    // 260 with the terminator).
    static constexpr size_t kMaxValue = 259;

    CSkinFile() = default;
    explicit CSkinFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    void SetPath(std::string path) { path_ = std::move(path); }

    std::string GetSkinString(std::string_view section, std::string_view key,
                              std::string_view defaultValue = {}) const;
    // "%i,%i,%i": three numbers (decimal, 0 octal or 0x hexadecimal, blanks
    // before each) separated by commas; the low byte of each is kept. Anything
    // else gives the default.
    SkinRgb GetSkinColor(std::string_view section, std::string_view key, SkinRgb defaultValue) const;
    // The image file named by the key, joined to resFolder; "" when the key
    // is missing or empty.
    std::string GetSkinImagePath(std::string_view resFolder, std::string_view section,
                                 std::string_view key) const;

    // Parses "%i,%i,%i" as above; false when three numbers do not convert.
    static bool ParseColor(std::string_view text, SkinRgb& out);
    // The nine browser colours' reading ("%d, %d, %d", decimal): a value that
    // does not give three numbers falls back to the default text's colour.
    static SkinRgb ParseBrowserColor(std::string_view text, std::string_view defaultText);

private:
    std::string path_;
};

// Folder helpers. Paths here use '/', so the "backslash" of the original
// names is the path separator.
void AddTrailingBackslash(std::string& path);
void RemoveTrailingBackslash(std::string& path);

#pragma once
// A settings file of sections and "key=value" lines, read and written the way
// the private-profile functions of the original platform treat them. It serves
// the import/export module's "CONVERT.INI" and the program's profile.
//
// Reading rules:
// - Section and key names compare without regard to ASCII case; names and
//   values are trimmed of blanks (spaces and tabs).
// - Keys are listed in file order. Where a key stands twice in a section, the
//   first one counts; where a section stands twice, the first one counts.
// - Lines without '=', empty key names, comment lines (first non-blank ';' or
//   '#') and text before the first section are ignored, but kept on rewrite.
// - LF and CRLF line ends are both accepted; a leading UTF-8 byte-order mark is
//   skipped. Names and values have no length limit.
// - A missing key gives the caller's default.
//
// Writing rules: every change re-reads the file first, so changes made through
// another object are kept, then writes the whole text to a temporary file in
// the same folder and renames it over the target (a linked file stays a link
// and its target is replaced); a reader never sees a half-written file.
// Untouched lines are kept byte for byte (including the byte-order mark and
// each line's own line end; new lines take the first line's style). A failed
// write leaves the file and the object as they were and returns false.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Platform {

class IniFile {
public:
    using Entries = std::vector<std::pair<std::string, std::string>>;

    // Reads the file; a missing or unreadable file reads as empty.
    explicit IniFile(std::string path);

    const std::string& Path() const { return path_; }

    // Reads the file again. False when it exists but cannot be read (the
    // object is then empty).
    bool Reload();

    std::vector<std::string> SectionNames() const;
    bool HasSection(std::string_view section) const;
    // Key names of a section in file order, each name once.
    std::vector<std::string> KeyNames(std::string_view section) const;
    // The section's keys with their values, as KeyNames orders them.
    Entries Section(std::string_view section) const;
    bool HasKey(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue = {}) const;
    // A decimal number with optional sign and leading blanks; reading stops at
    // the first other character, and a value without digits gives 0. A missing
    // key gives the default; values out of range saturate.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;

    // Sets a key, creating the section (at the end of the file) and the key
    // (after the section's last key) when needed. Names that are empty, hold a
    // line break, or (for keys) '=' or a leading '[' or ';', and values with a
    // line break are refused with false: they would not read back.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInt(std::string_view section, std::string_view key, int value);
    // Removes every occurrence of the key in the section. True when the file
    // no longer holds it.
    bool DeleteKey(std::string_view section, std::string_view key);
    // Removes every section of that name with its lines.
    bool DeleteSection(std::string_view section);
    // Replaces the whole section by these entries in one write: the first
    // section of that name keeps its place, later ones go; a missing section
    // is added at the end.
    bool ReplaceSection(std::string_view section, const Entries& entries);

private:
    struct Line {
        enum Kind { Other, SectionHeader, KeyValue } kind = Other;
        std::string text;   // the line as stored, without its line end
        std::string name;   // section or key name (trimmed)
        std::string value;  // key value (trimmed)
        std::string eol;    // the line end it had; empty for a new line and an unended last one
    };
    struct Document {
        bool bom = false;
        bool crlf = false;
        bool finalNewline = true;
        std::vector<Line> lines;
    };

    static bool Parse(const std::string& path, Document& doc);
    bool Commit(const Document& doc);
    // Index range [begin, end) of the body of the first section with that
    // name (begin is the header's index); begin == npos when absent.
    static std::pair<size_t, size_t> FindSection(const Document& doc, std::string_view section);
    const Line* FindKey(std::string_view section, std::string_view key) const;

    std::string path_;
    Document doc_;
};

}  // namespace Platform

#include "IniFile.h"

#include "FileReading.h"
#include "ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace Platform {

namespace {

constexpr size_t npos = std::string::npos;
// Settings files are a few kilobytes; anything far larger is no settings file.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t(16) << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool ValidSectionName(std::string_view s) {
    return !Trim(s).empty() && !HasLineBreak(s) && s.find(']') == std::string_view::npos;
}

bool ValidKeyName(std::string_view s) {
    std::string_view t = Trim(s);
    return !t.empty() && !HasLineBreak(s) && s.find('=') == std::string_view::npos && t.front() != '[' &&
           t.front() != ';' && t.front() != '#';
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    Reload();
}

bool IniFile::Reload() {
    Document doc;
    bool ok = Parse(path_, doc);
    doc_ = ok ? std::move(doc) : Document{};
    return ok;
}

bool IniFile::Parse(const std::string& path, Document& doc) {
    std::string text;
    if (const int error = ReadWholeFile(path, kMaxFileBytes, text))
        return error == ENOENT;  // a file that is not there is an empty profile, not a failure

    size_t pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        doc.bom = true;
        pos = 3;
    }
    doc.finalNewline = text.empty() || text.back() == '\n';
    bool sawLine = false;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        size_t next = end == npos ? text.size() : end + 1;
        if (end == npos)
            end = text.size();
        std::string raw = text.substr(pos, end - pos);
        std::string eol = end < text.size() ? "\n" : "";
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
            eol = "\r" + eol;
            if (!sawLine)
                doc.crlf = true;
        }
        sawLine = true;
        pos = next;

        Line line;
        std::string_view t = Trim(raw);
        if (!t.empty() && t.front() == '[') {
            size_t close = t.find(']');
            line.kind = Line::SectionHeader;
            line.name = std::string(Trim(t.substr(1, close == npos ? npos : close - 1)));
        } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
            size_t eq = t.find('=');
            if (eq != npos && !Trim(t.substr(0, eq)).empty()) {
                line.kind = Line::KeyValue;
                line.name = std::string(Trim(t.substr(0, eq)));
                line.value = std::string(Trim(t.substr(eq + 1)));
            }
        }
        line.text = std::move(raw);
        line.eol = std::move(eol);
        doc.lines.push_back(std::move(line));
    }
    return true;
}

std::pair<size_t, size_t> IniFile::FindSection(const Document& doc, std::string_view section) {
    std::string_view name = Trim(section);
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        if (doc.lines[i].kind != Line::SectionHeader || !SameName(doc.lines[i].name, name))
            continue;
        size_t end = i + 1;
        while (end < doc.lines.size() && doc.lines[end].kind != Line::SectionHeader)
            ++end;
        return {i, end};
    }
    return {npos, npos};
}

const IniFile::Line* IniFile::FindKey(std::string_view section, std::string_view key) const {
    auto [begin, end] = FindSection(doc_, section);
    if (begin == npos)
        return nullptr;
    std::string_view name = Trim(key);
    for (size_t i = begin + 1; i < end; ++i)
        if (doc_.lines[i].kind == Line::KeyValue && SameName(doc_.lines[i].name, name))
            return &doc_.lines[i];
    return nullptr;
}

std::vector<std::string> IniFile::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : doc_.lines) {
        if (line.kind != Line::SectionHeader)
            continue;
        bool seen = false;
        for (const std::string& n : names)
            seen = seen || SameName(n, line.name);
        if (!seen)
            names.push_back(line.name);
    }
    return names;
}

bool IniFile::HasSection(std::string_view section) const {
    return FindSection(doc_, section).first != npos;
}

IniFile::Entries IniFile::Section(std::string_view section) const {
    Entries entries;
    auto [begin, end] = FindSection(doc_, section);
    if (begin == npos)
        return entries;
    for (size_t i = begin + 1; i < end; ++i) {
        const Line& line = doc_.lines[i];
        if (line.kind != Line::KeyValue)
            continue;
        bool seen = false;
        for (const auto& e : entries)
            seen = seen || SameName(e.first, line.name);
        if (!seen)
            entries.emplace_back(line.name, line.value);
    }
    return entries;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    for (auto& e : Section(section))
        names.push_back(std::move(e.first));
    return names;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
    return FindKey(section, key) != nullptr;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const {
    const Line* line = FindKey(section, key);
    return line ? line->value : std::string(defaultValue);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
    const Line* line = FindKey(section, key);
    if (!line)
        return defaultValue;
    std::string_view s = Trim(line->value);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            break;
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX)
        v = INT_MAX;
    return static_cast<int>(v);
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (!ValidSectionName(section) || !ValidKeyName(key) || HasLineBreak(value))
        return false;
    Document doc;
    if (!Parse(path_, doc))
        return false;
    Line line;
    line.kind = Line::KeyValue;
    line.name = std::string(Trim(key));
    line.value = std::string(Trim(value));
    line.text = line.name + "=" + line.value;

    auto [begin, end] = FindSection(doc, section);
    if (begin == npos) {
        Line header;
        header.kind = Line::SectionHeader;
        header.name = std::string(Trim(section));
        header.text = "[" + header.name + "]";
        doc.lines.push_back(std::move(header));
        doc.lines.push_back(std::move(line));
    } else {
        size_t lastKey = begin;
        bool replaced = false;
        for (size_t i = begin + 1; i < end && !replaced; ++i) {
            if (doc.lines[i].kind != Line::KeyValue)
                continue;
            if (SameName(doc.lines[i].name, line.name)) {
                doc.lines[i] = line;
                replaced = true;
            }
            lastKey = i;
        }
        if (!replaced)
            doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(lastKey + 1), line);
    }
    return Commit(doc);
}

bool IniFile::WriteInt(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
    Document doc;
    if (!Parse(path_, doc))
        return false;
    auto [begin, end] = FindSection(doc, section);
    size_t removed = 0;
    std::string_view name = Trim(key);
    for (size_t i = end; begin != npos && i-- > begin + 1;) {
        if (doc.lines[i].kind == Line::KeyValue && SameName(doc.lines[i].name, name)) {
            doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(i));
            ++removed;
        }
    }
    if (removed == 0) {
        doc_ = std::move(doc);  // nothing to write
        return true;
    }
    return Commit(doc);
}

bool IniFile::DeleteSection(std::string_view section) {
    return ReplaceSection(section, {});
}

bool IniFile::ReplaceSection(std::string_view section, const Entries& entries) {
    bool remove = entries.empty();
    if (!remove && !ValidSectionName(section))
        return false;
    for (const auto& [key, value] : entries)
        if (!ValidKeyName(key) || HasLineBreak(value))
            return false;
    Document doc;
    if (!Parse(path_, doc))
        return false;

    std::vector<Line> body;
    for (const auto& [key, value] : entries) {
        Line line;
        line.kind = Line::KeyValue;
        line.name = std::string(Trim(key));
        line.value = std::string(Trim(value));
        line.text = line.name + "=" + line.value;
        body.push_back(std::move(line));
    }

    auto [first, firstEnd] = FindSection(doc, section);
    if (first == npos) {
        if (!remove) {
            Line header;
            header.kind = Line::SectionHeader;
            header.name = std::string(Trim(section));
            header.text = "[" + header.name + "]";
            doc.lines.push_back(std::move(header));
            doc.lines.insert(doc.lines.end(), body.begin(), body.end());
            return Commit(doc);
        }
        doc_ = std::move(doc);  // nothing to remove
        return true;
    }
    // Drop every section of that name, remembering where the first stood.
    std::vector<Line> kept;
    size_t insertAt = npos;
    for (size_t i = 0; i < doc.lines.size();) {
        const Line& line = doc.lines[i];
        if (line.kind == Line::SectionHeader && SameName(line.name, Trim(section))) {
            if (insertAt == npos)
                insertAt = kept.size();
            ++i;
            while (i < doc.lines.size() && doc.lines[i].kind != Line::SectionHeader)
                ++i;
            continue;
        }
        kept.push_back(line);
        ++i;
    }
    if (!remove) {
        std::vector<Line> block;
        block.push_back(doc.lines[first]);
        block.insert(block.end(), body.begin(), body.end());
        kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(insertAt), block.begin(), block.end());
    }
    doc.lines = std::move(kept);
    return Commit(doc);
}

bool IniFile::Commit(const Document& doc) {
    std::string text;
    if (doc.bom)
        text += "\xEF\xBB\xBF";
    const char* eol = doc.crlf ? "\r\n" : "\n";
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        text += doc.lines[i].text;
        if (!doc.lines[i].eol.empty())
            text += doc.lines[i].eol;
        else if (i + 1 < doc.lines.size() || doc.finalNewline)
            text += eol;
    }

    // The replacement writes where a link points, so a linked profile stays a link.
    FileReplacement replacement;
    if (replacement.Begin(path_) != 0 || !WriteAll(replacement.Descriptor(), text) || replacement.Commit() != 0)
        return false;
    doc_ = doc;
    return true;
}

}  // namespace Platform

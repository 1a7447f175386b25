// Builds the string table's C++ source from the text files under res/strings:
// one "<id><TAB><text>" per line, '#' starts a comment line, the text takes
// the escapes \n, \t and \\. One id may appear in several files only with the
// same text. Given an output ending in ".pack" it writes the interface
// resource pack instead: "OVHRES1\n", the count, then id, length and the
// UTF-8 bytes of each text (32-bit little-endian numbers).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

static std::string Unescape(const std::string& s, bool& ok) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') { out += s[i]; continue; }
        if (++i == s.size()) { ok = false; break; }
        switch (s[i]) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        default: ok = false;
        }
    }
    return out;
}

static std::string CLiteral(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') { out += '\\'; out += char(c); }
        else if (c < 0x20 || c >= 0x7f) { char b[8]; std::snprintf(b, sizeof b, "\\%03o", c); out += b; }
        else out += char(c);
    }
    return out + "\"";
}

int main(int argc, char** argv) {
    if (argc < 3) { std::cerr << "usage: StringTableGen out.cpp in.txt...\n"; return 2; }
    std::map<unsigned, std::string> table;
    for (int a = 2; a < argc; ++a) {
        std::ifstream in(argv[a], std::ios::binary);
        if (!in) { std::cerr << argv[a] << ": cannot open\n"; return 1; }
        std::string line;
        for (int n = 1; std::getline(in, line); ++n) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            auto tab = line.find('\t');
            bool ok = tab != std::string::npos && tab > 0;
            unsigned long id = 0;
            if (ok) {
                try { size_t used = 0; id = std::stoul(line.substr(0, tab), &used, 0); ok = used == tab && id <= 0xFFFF; }
                catch (...) { ok = false; }
            }
            std::string text = ok ? Unescape(line.substr(tab + 1), ok) : std::string();
            if (!ok) { std::cerr << argv[a] << ":" << n << ": expected <id><TAB><text>\n"; return 1; }
            auto [it, added] = table.emplace(unsigned(id), text);
            if (!added && it->second != text) {
                std::cerr << argv[a] << ":" << n << ": id " << id << " already has another text\n";
                return 1;
            }
        }
    }
    const std::string outName = argv[1];
    if (outName.size() > 5 && outName.compare(outName.size() - 5, 5, ".pack") == 0) {
        std::ofstream pack(outName, std::ios::binary);
        auto word = [&](uint32_t v) {
            const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
            pack.write(b, 4);
        };
        pack << "OVHRES1\n";
        word(uint32_t(table.size()));
        for (auto& [id, text] : table) {
            word(id);
            word(uint32_t(text.size()));
            pack << text;
        }
        return pack ? 0 : 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << "// Generated from res/strings; do not edit.\n#include \"StringTable.h\"\n\n"
           "const Res::StringEntry Res::kStringTable[] = {\n";
    for (auto& [id, text] : table) out << "    {" << id << ", " << CLiteral(text) << "},\n";
    out << "    {0xFFFFFFFFu, \"\"}};\nconst unsigned Res::kStringCount = " << table.size() << ";\n";
    return out ? 0 : 1;
}

// The public headers and the built library agree: every function they declare
// is exported by libformgate.so, and nothing else leaves it.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Comments removed, so a name in a comment counts for nothing.
std::string Code(const std::string& path) {
    std::string text = ReadAll(path);
    for (size_t at = text.find("//"); at != std::string::npos; at = text.find("//", at))
        text.erase(at, text.find('\n', at) - at);
    return text;
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The identifier that ends text (trailing blanks skipped).
std::string LastName(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && !IsNameChar(text[end - 1]))
        --end;
    size_t begin = end;
    while (begin > 0 && IsNameChar(text[begin - 1]))
        --begin;
    return text.substr(begin, end - begin);
}

// The identifier that starts text (leading blanks skipped).
std::string FirstName(const std::string& text) {
    size_t begin = 0;
    while (begin < text.size() && !IsNameChar(text[begin]))
        ++begin;
    size_t end = begin;
    while (end < text.size() && IsNameChar(text[end]))
        ++end;
    return text.substr(begin, end - begin);
}

// Demangled defined text symbols of the library.
std::vector<std::string> ExportedFunctions(const std::string& library) {
    std::vector<std::string> names;
    const std::string command = "nm -D --defined-only -C '" + library + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return names;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text = line;
        // "<address> T <name>"
        const size_t type = text.find(' ');
        if (type == std::string::npos || text.compare(type, 3, " T ") != 0)
            continue;
        text = text.substr(type + 3);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        names.push_back(text);
    }
    ::pclose(pipe);
    return names;
}

}  // namespace

TEST(HeaderExports, EveryDeclaredFunctionIsExportedAndNothingElse) {
    const std::string include = std::string(FORMGATE_INCLUDE_DIR) + "/";
    std::map<std::string, int> declared;  // free function -> overloads
    std::set<std::string> classes;
    for (const char* header : {"Formgate.h", "IOStream.h"}) {
        const std::string code = Code(include + header);
        const std::string mark = "FORMGATE_API";
        for (size_t at = code.find(mark); at != std::string::npos; at = code.find(mark, at + mark.size())) {
            const size_t line = code.rfind('\n', at);
            const size_t start = line == std::string::npos ? 0 : line + 1;
            const std::string before = code.substr(start, at - start);
            const std::string after = code.substr(at + mark.size());
            if (LastName(before) == "class")
                classes.insert(FirstName(after));
            else
                ++declared[LastName(after.substr(0, after.find('(')))];
        }
    }
    ASSERT_GE(declared.size(), 20u) << "the header could not be read";

    std::map<std::string, std::set<std::string>> exported;  // free function -> signatures
    std::set<std::string> exportedClasses;
    std::set<std::string> members;
    for (const std::string& symbol : ExportedFunctions(FORMGATE_LIBRARY)) {
        const std::string name = symbol.substr(0, symbol.find('('));
        const size_t scope = name.find("::");
        if (scope == std::string::npos) {
            exported[name].insert(symbol);
        } else {
            exportedClasses.insert(name.substr(0, scope));
            members.insert(name);
        }
    }
    ASSERT_FALSE(exported.empty()) << "nm gave nothing for " << FORMGATE_LIBRARY;

    for (const auto& [name, overloads] : declared) {
        EXPECT_EQ(exported[name].size(), static_cast<size_t>(overloads))
            << name << " is declared but not exported";
    }
    for (const auto& [name, signatures] : exported)
        EXPECT_TRUE(declared.count(name)) << *signatures.begin() << " is exported but not declared";
    EXPECT_EQ(exportedClasses, classes);
    for (const char* member : {"COVFileOpenDlg::COVFileOpenDlg", "COVFileOpenDlg::~COVFileOpenDlg",
                               "COVFileOpenDlg::DoModal", "COVFileOpenDlg::GetPathName"})
        EXPECT_TRUE(members.count(member)) << member;
}

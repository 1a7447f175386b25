#include "ProjectFiles.h"

#include "ReadableExtensions.h"

#include <algorithm>
#include <cctype>

namespace ProjectFiles {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

// One list for the whole run: the application's.
const std::string& ReadableExtensions() {
    return ReadableExtensions::ProgramList();
}

void SetReadableExtensions(std::string extensions) {
    ReadableExtensions::SetProgramList(Lower(std::move(extensions)));
}

std::string ExtensionsFromFormatList(const char* list, std::size_t size) {
    std::string result;
    std::size_t pos = 0;
    int field = 0;
    while (list && pos < size && list[pos] != '\0') {
        const char* start = list + pos;
        const std::size_t length = std::find(start, list + size, '\0') - start;
        if (field % 2 == 1) {
            // "*.jpg;*.jpeg" -> ".jpg;.jpeg;"
            std::string_view patterns(start, length);
            std::size_t from = 0;
            while (from <= patterns.size()) {
                std::size_t to = patterns.find(';', from);
                if (to == std::string_view::npos)
                    to = patterns.size();
                std::string_view pattern = patterns.substr(from, to - from);
                if (!pattern.empty() && pattern[0] == '*')
                    pattern.remove_prefix(1);
                if (pattern.size() > 1 && pattern[0] == '.')
                    result += Lower(std::string(pattern)) + ";";
                from = to + 1;
            }
        }
        ++field;
        pos += length + 1;
    }
    return result.empty() ? std::string(kDefaultReadableExtensions) : result;
}

std::string LowerExtension(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return Lower(std::string(path.substr(dot)));
}

bool IsReadableImageFile(std::string_view path) {
    return ::IsReadableImageFile(path);
}

std::string FileNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace ProjectFiles

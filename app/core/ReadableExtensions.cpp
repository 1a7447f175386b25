#include "ReadableExtensions.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "Formgate.h"

namespace ReadableExtensions {

namespace {
std::string& Storage() {
    static std::string list = kFallback;
    return list;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}
}  // namespace

std::string FromModuleList(const char* buffer, size_t size) {
    if (!buffer || size == 0)
        return kFallback;
    std::string text(buffer, size);
    std::replace(text.begin(), text.end(), '\0', '|');
    // "||" over the last byte and the one behind it closes the text.
    text.resize(size - 1);
    text += "||";
    if (text.front() == '|')
        return kFallback;
    return Lower(std::move(text));
}

std::string FromModule() {
    const int size = ImExp_FillReadFormatsInfo(nullptr, 0);
    if (size <= 0)
        return kFallback;
    std::vector<char> buffer(static_cast<size_t>(size) + 2, '\0');
    ImExp_FillReadFormatsInfo(buffer.data(), static_cast<unsigned>(size));
    return FromModuleList(buffer.data(), static_cast<size_t>(size));
}

bool IsReadable(std::string_view path, std::string_view list) {
    const size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string ext = Lower(std::string(name.substr(dot)));
    if (ext.size() < 4)
        return false;
    return list.find(ext) != std::string_view::npos;
}

void SetProgramList(std::string list) {
    Storage() = std::move(list);
}
const std::string& ProgramList() {
    return Storage();
}

}  // namespace ReadableExtensions

bool IsReadableImageFile(std::string_view path) {
    return ReadableExtensions::IsReadable(path, ReadableExtensions::ProgramList());
}

#include "OnlineText.h"

#include "StringTable.h"

namespace OnlineText {

namespace {

template <typename T, typename Convert>
std::string Fill(unsigned id, std::initializer_list<T> values, const char* const* fields, Convert convert) {
    const std::string text = Load(id);
    std::string out;
    auto next = values.begin();
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        if (text[i] == '%' && i + 1 < text.size() && next != values.end()) {
            for (const char* const* f = fields; *f; ++f)
                if (text[i + 1] == **f) {
                    out += convert(*next++);
                    ++i;
                    replaced = true;
                    break;
                }
        }
        if (!replaced)
            out += text[i];
    }
    return out;
}

}  // namespace

std::string Load(unsigned id) {
    return Res::LoadStr(id);
}

std::string Format(unsigned id, std::initializer_list<int> numbers) {
    static const char* const kFields[] = {"i", "d", nullptr};
    return Fill(id, numbers, kFields, [](int n) { return std::to_string(n); });
}

std::string Format(unsigned id, std::initializer_list<std::string> strings) {
    static const char* const kFields[] = {"s", nullptr};
    return Fill(id, strings, kFields, [](const std::string& s) { return s; });
}

}  // namespace OnlineText

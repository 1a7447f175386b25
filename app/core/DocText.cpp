#include "DocText.h"

#include "StringTable.h"

namespace DocText {

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c != '%' || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        const char kind = pattern[i + 1];
        if (kind == '%') {
            out += '%';
            ++i;
        } else if (kind == 's' || kind == 'd' || kind == 'i') {
            if (next != args.end())
                out += *next++;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Load(unsigned id, std::initializer_list<std::string_view> args) {
    return Fill(Res::LoadStr(id), args);
}

}  // namespace DocText

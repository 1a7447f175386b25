// The format lists: layout, size query, truncation, the writer masks, and the
// 16-bit variants against the 8-bit ones.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ReadTestSupport.h"
#include "Utf16.h"

using namespace FormgateTest;

namespace {

class FormatListsTest : public ModuleTest {
protected:
    // The strings of a filled list, up to the closing empty string.
    template <class Char>
    static std::vector<std::basic_string<Char>> Strings(const std::vector<Char>& buffer) {
        std::vector<std::basic_string<Char>> strings;
        size_t at = 0;
        while (at < buffer.size() && buffer[at] != Char(0)) {
            std::basic_string<Char> s(&buffer[at]);
            at += s.size() + 1;
            strings.push_back(s);
        }
        return strings;
    }

    // Fills with the 8-bit and the 16-bit function and checks they agree.
    std::vector<std::string> Both(int (*narrow)(char*, unsigned), int (*wide)(char16_t*, unsigned),
                                  int* count = nullptr) {
        const int needed = narrow(nullptr, 0);
        EXPECT_EQ(wide(nullptr, 0), needed);
        std::vector<char> a(static_cast<size_t>(needed) + 8, 'x');
        std::vector<char16_t> b(static_cast<size_t>(needed) + 8, u'x');
        const int pairs = narrow(a.data(), static_cast<unsigned>(needed));
        EXPECT_EQ(wide(b.data(), static_cast<unsigned>(needed)), pairs);
        // The list ends with an empty string, written by the library.
        EXPECT_EQ(a[static_cast<size_t>(needed) - 1], '\0');
        EXPECT_EQ(a[static_cast<size_t>(needed)], 'x');
        EXPECT_EQ(b[static_cast<size_t>(needed) - 1], u'\0');
        const auto strings = Strings(a);
        std::vector<std::string> converted;
        for (const auto& s : Strings(b))
            converted.push_back(formgate::Utf8FromUtf16(s.c_str()));
        EXPECT_EQ(converted, strings);
        if (count)
            *count = pairs;
        return strings;
    }
};

using Strings8 = std::vector<std::string>;

template <int Type>
int SaveEx(char* buffer, unsigned size) {
    return ImExp_FillSaveFormatsInfoEx(buffer, size, Type);
}
template <int Type>
int SaveExW(char16_t* buffer, unsigned size) {
    return ImExp_FillSaveFormatsInfoExW(buffer, size, Type);
}

}  // namespace

TEST_F(FormatListsTest, SizesAndTruncation) {
    Start({"conv_r"}, "[conv_r.so]\nFlags=0x11\nFilter=Ten chars!\nPatterns=.abcdefghi\n");
    EXPECT_EQ(ImExp_FillReadFormatsInfo(nullptr, 0), 23);
    EXPECT_EQ(ImExp_FillReadFormatsInfo(nullptr, 500), 23);
    std::vector<char> buffer(40, 'x');
    EXPECT_EQ(ImExp_FillReadFormatsInfo(buffer.data(), 0), 23);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(ImExp_FillReadFormatsInfo(buffer.data(), 22), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
    EXPECT_EQ(ImExp_FillReadFormatsInfo(buffer.data(), 23), 1);
    EXPECT_EQ(std::string(buffer.data(), 24), std::string("Ten chars!\0.abcdefghi\0\0x", 24));

    std::vector<char16_t> wide(40, u'x');
    EXPECT_EQ(ImExp_FillReadFormatsInfoW(wide.data(), 22), 0);
    EXPECT_EQ(ImExp_FillReadFormatsInfoW(wide.data(), 23), 1);
    EXPECT_EQ(std::u16string(wide.data(), 24), std::u16string(u"Ten chars!\0.abcdefghi\0\0x", 24));

    // No writer: the save lists are empty but still closed.
    EXPECT_EQ(ImExp_FillSaveFormatsInfo(nullptr, 0), 1);
    EXPECT_EQ(ImExp_FillSaveFormatsInfo(buffer.data(), 1), 0);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(FormatListsTest, ReadersWritersAndMasks) {
    Start({"conv_r", "conv_w", "conv_rw", "conv_g", "conv_c", "conv_a"},
          "[conv_r.so]\nFlags=0x11\nFilter=Reader\nPatterns=.r\n"
          "[conv_w.so]\nFlags=0x2\nMask=0x4\nFilter=Grey writer\nPatterns=.w\n"
          "[conv_rw.so]\nFlags=0x13\nMask=0x200\nFilter=Both\nPatterns=.rw;.x\n"
          "[conv_g.so]\nFlags=0x2\nMask=0x8000\nFilter=Deep grey\nPatterns=.d\n"
          "[conv_c.so]\nFlags=0x2\nMask=0x10000\nFilter=Deep colour\nPatterns=.dd\n"
          "[conv_a.so]\nFlags=0x2\nMask=0x20000\nFilter=Grey alpha\nPatterns=.ga\n");
    int pairs = 0;
    EXPECT_EQ(Both(ImExp_FillReadFormatsInfo, ImExp_FillReadFormatsInfoW, &pairs),
              (Strings8{"Reader", ".r", "Both", ".rw;.x"}));
    EXPECT_EQ(pairs, 2);
    EXPECT_EQ(Both(ImExp_FillSaveFormatsInfo, ImExp_FillSaveFormatsInfoW, &pairs),
              (Strings8{"Grey writer", ".w", "Both", ".rw;.x", "Deep grey", ".d", "Deep colour", ".dd",
                        "Grey alpha", ".ga"}));
    EXPECT_EQ(pairs, 5);
    EXPECT_EQ(Both(SaveEx<8>, SaveExW<8>), (Strings8{"Grey writer", ".w", "Both", ".rw;.x"}));
    EXPECT_EQ(Both(SaveEx<4>, SaveExW<4>), (Strings8{"Both", ".rw;.x"}));
    EXPECT_EQ(Both(SaveEx<16>, SaveExW<16>), (Strings8{"Both", ".rw;.x"}));
    EXPECT_EQ(Both(SaveEx<1>, SaveExW<1>), (Strings8{"Both", ".rw;.x"}));
    EXPECT_EQ(Both(SaveEx<32>, SaveExW<32>), (Strings8{"Deep grey", ".d", "Deep colour", ".dd"}));
    EXPECT_EQ(Both(SaveEx<64>, SaveExW<64>), (Strings8{"Deep colour", ".dd"}));
    for (int type : {0, 3, 128, -1}) {
        EXPECT_EQ(ImExp_FillSaveFormatsInfoEx(nullptr, 0, type), 0) << type;
        EXPECT_EQ(ImExp_FillSaveFormatsInfoExW(nullptr, 0, type), 0) << type;
    }

    // Room for the first two save pairs and a bit more: the third is not cut.
    const unsigned room = 1 + (11 + 2 + 2) + (4 + 6 + 2) + 5;
    std::vector<char> buffer(64, 'x');
    EXPECT_EQ(ImExp_FillSaveFormatsInfo(buffer.data(), room), 2);
    EXPECT_EQ(Strings(buffer), (Strings8{"Grey writer", ".w", "Both", ".rw;.x"}));
    EXPECT_EQ(buffer[room - 5 - 1], '\0');
    EXPECT_EQ(buffer[room - 5], 'x');
}

TEST_F(FormatListsTest, SixteenBitSizesCountCharacters) {
    Start({"conv_r"}, "[conv_r.so]\nFlags=0x11\nFilter=Bilder äöü\nPatterns=.bld\n");
    // 13 bytes, 10 characters.
    EXPECT_EQ(ImExp_FillReadFormatsInfo(nullptr, 0), 1 + 13 + 4 + 2);
    EXPECT_EQ(ImExp_FillReadFormatsInfoW(nullptr, 0), 1 + 10 + 4 + 2);
    std::vector<char16_t> wide(17, u'x');
    EXPECT_EQ(ImExp_FillReadFormatsInfoW(wide.data(), 17), 1);
    EXPECT_EQ(std::u16string(wide.data()), u"Bilder äöü");
    EXPECT_EQ(ImExp_FillReadFormatsInfoW(wide.data(), 16), 0);
}

#include <gtest/gtest.h>

#include <string>

#include "Utf16.h"

// The W exports' names: every plane, and unpaired surrogates as U+FFFD.
TEST(Utf16, NamesBecomeUtf8) {
    const struct {
        std::u16string name;
        std::string utf8;
    } cases[] = {
        {u"photo.jpg", "photo.jpg"},
        {u"\u00e9\u20ac", "\xc3\xa9\xe2\x82\xac"},
        {u"\U0001F4F7.tif", "\xf0\x9f\x93\xb7.tif"},
        {std::u16string{u'a', char16_t(0xD83D)}, "a\xef\xbf\xbd"},
        {std::u16string{char16_t(0xD83D), u'b'},
         "\xef\xbf\xbd"
         "b"},
        {std::u16string{char16_t(0xDCF7), u'c'},
         "\xef\xbf\xbd"
         "c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formgate::Utf8FromUtf16(c.name.c_str()), c.utf8);
    EXPECT_EQ(formgate::Utf8FromUtf16(nullptr), "");
    EXPECT_EQ(formgate::Utf16FromUtf8("\xc3\xa9\xf0\x9f\x93\xb7"), u"\u00e9\U0001F4F7");
}

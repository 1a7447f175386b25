#include <gtest/gtest.h>

#include "TextCodec.h"

using Platform::Utf8FromWide;
using Platform::WideFromUtf8;

TEST(TextCodec, RoundTripsEveryPlane) {
    const std::wstring text = L"a\u00e9\u20ac\U0001F600/photo.jpg";
    EXPECT_EQ(Utf8FromWide(text), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80/photo.jpg");
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(text)), text);
}

TEST(TextCodec, DamagedUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(WideFromUtf8("a\xff"
                           "b"),
              L"a\uFFFDb");
    EXPECT_EQ(WideFromUtf8("a\xe2\x82"), L"a\uFFFD\uFFFD");
}

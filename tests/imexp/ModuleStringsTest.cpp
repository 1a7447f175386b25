#include <gtest/gtest.h>

#include "Formgate.h"
#include "ModuleStrings.h"

using formgate::ColourTypeName;
using formgate::ErrorText;

TEST(ModuleStrings, ErrorMessagesAreStoredVerbatim) {
    const std::pair<int, const char*> cases[] = {
        {1, "Unexpected end of file photo.tcv"},
        {2, "No enough memory"},
        {3, "Unknown image file format photo.tcv"},
        {4, "Invalid Image File photo.tcv"},
        {5, "Unsupporter Subformat photo.tcv"},
        {6, "Cannot open file photo.tcv"},
        {7, "No images found in file photo.tcv"},
        {8, "Wrong Image Number photo.tcv"},
        {9, "File too big photo.tcv"},
        {10, "Converter in use by other program"},
        {11, "Illegal conversion requested"},
        {12, "Operation cancelled by user"},
        {13, "Disk full writing photo.tcv"},
        {14, "Decompressor Error photo.tcv"},
        {15, "General Conversion Error"},
        {16, "Custom Converter Error"},
        {17, "Converters configured inproperly"},
        {18, "Wrong custom DLL version photo.tcv"},
        {19, "WA Failure"},
        {20, "No Suitable Formats for Save"},
        {21, "General Conversion Error"},
        {-1, "General Conversion Error"},
    };
    for (auto [code, text] : cases)
        EXPECT_EQ(ErrorText(code, "photo.tcv"), text) << code;
}

TEST(ModuleStrings, FileTitleIsNeverTakenAsAFormat) {
    EXPECT_EQ(ErrorText(ImExp::ErrorCannotOpen, "100%s %d %n.tcv"), "Cannot open file 100%s %d %n.tcv");
}

TEST(ModuleStrings, ColourTypeNames) {
    const char* const names[] = {"GrayScale",
                                 "Gray Paletted",
                                 "Color Paletted",
                                 "RGB",
                                 "Gray with Alpha Channel",
                                 "RGB with Alpha Channel",
                                 "YCbCr (Video)",
                                 "L*a*b*",
                                 "CMYK color separated"};
    for (int i = 0; i < 9; ++i)
        EXPECT_STREQ(ColourTypeName(i), names[i]);
    EXPECT_STREQ(ColourTypeName(9), "");
    EXPECT_STREQ(ColourTypeName(-1), "");
}

#include <gtest/gtest.h>

#include <vector>

#include "ConverterLibrary.h"
#include "FormgateTestSupport.h"
#include "TestConverterShared.h"

namespace {

const char* const kFieldNames[] = {
#define TESTCONV_FIELD_NAME(type, field) #type "::" #field,
    TESTCONV_LAYOUT_FIELDS(TESTCONV_FIELD_NAME)
#undef TESTCONV_FIELD_NAME
};

}  // namespace

// The converter module is built apart from the library; both must see the
// records byte for byte alike, or every field the converter writes lands elsewhere.
TEST(InterfaceLayout, SeparatelyBuiltConverterAgreesWithTheLibrary) {
    formgate::ConverterLibrary library;
    ASSERT_TRUE(library.Open(FormgateTest::Variant("conv_script"))) << library.Error();
    auto* layout = library.Entry<TestConvLayoutFunction>("TestConvLayout");
    ASSERT_NE(layout, nullptr);

    const std::vector<long> ours = TESTCONV_LAYOUT_VALUES;
    std::vector<long> theirs(ours.size() + 8, -1);
    ASSERT_EQ(layout(theirs.data(), static_cast<int>(theirs.size())), static_cast<int>(ours.size()));
    theirs.resize(ours.size());

    EXPECT_EQ(theirs[0], 348) << "converter record";
    EXPECT_EQ(theirs[1], 240) << "image information record";
    EXPECT_EQ(theirs[2], 896) << "reader/writer context";
    for (size_t i = 3; i < ours.size(); ++i)
        EXPECT_EQ(theirs[i], ours[i]) << kFieldNames[i - 3];
}

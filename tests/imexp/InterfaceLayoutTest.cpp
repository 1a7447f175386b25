#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ConverterLibrary.h"
#include "Formgate.h"
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

namespace {

// The byte offset of a virtual function in its class's table (Itanium C++ ABI:
// a pointer to a virtual member holds 1 + that offset).
template <class Member>
long TableOffset(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(long));
    long words[2];
    std::memcpy(words, &member, sizeof words);
    return words[0] - 1;
}

}  // namespace

// The order of the virtual operations is a binary interface with the program
// and with the converters; the destructor takes the first two entries.
TEST(InterfaceLayout, VirtualOperationsKeepTheirSlots) {
    const std::pair<long, long> sink[] = {
        {TableOffset(&CAbstractReadWA::Reserved1), 2},
        {TableOffset(&CAbstractReadWA::Reserved2), 3},
        {TableOffset(&CAbstractReadWA::SetSize), 4},
        {TableOffset(&CAbstractReadWA::SetFormat), 5},
        {TableOffset(&CAbstractReadWA::SetPalette), 6},
        {TableOffset(&CAbstractReadWA::SetResolution), 7},
        {TableOffset(&CAbstractReadWA::PutRow), 8},
        {TableOffset(&CAbstractReadWA::PutAlphaRow), 9},
        {TableOffset(&CAbstractReadWA::SetAlphaChannel), 10},
        {TableOffset(&CAbstractReadWA::Reserved10), 11},
    };
    const std::pair<long, long> source[] = {
        {TableOffset(&CAbstractWriteWA::Reserved1), 2},  {TableOffset(&CAbstractWriteWA::Reserved2), 3},
        {TableOffset(&CAbstractWriteWA::GetSize), 4},    {TableOffset(&CAbstractWriteWA::GetFormat), 5},
        {TableOffset(&CAbstractWriteWA::GetPalette), 6}, {TableOffset(&CAbstractWriteWA::GetResolution), 7},
        {TableOffset(&CAbstractWriteWA::GetRow), 8},     {TableOffset(&CAbstractWriteWA::GetAlphaRow), 9},
        {TableOffset(&CAbstractWriteWA::HasAlpha), 10},  {TableOffset(&CAbstractWriteWA::Reserved10), 11},
    };
    const std::pair<long, long> progress[] = {{TableOffset(&CProgress::Begin), 2},
                                              {TableOffset(&CProgress::End), 3},
                                              {TableOffset(&CProgress::Step), 4}};
    const std::pair<long, long> stream[] = {
        {TableOffset(&IOStream::Read), 2},      {TableOffset(&IOStream::ReadByte), 3},
        {TableOffset(&IOStream::ReadWord), 4},  {TableOffset(&IOStream::Write), 5},
        {TableOffset(&IOStream::WriteByte), 6}, {TableOffset(&IOStream::WriteWord), 7},
        {TableOffset(&IOStream::Seek), 8},      {TableOffset(&IOStream::Tell), 9},
        {TableOffset(&IOStream::Flush), 10},
    };
    for (auto [offset, slot] : sink)
        EXPECT_EQ(offset, slot * 8) << "sink slot " << slot;
    for (auto [offset, slot] : source)
        EXPECT_EQ(offset, slot * 8) << "source slot " << slot;
    for (auto [offset, slot] : progress)
        EXPECT_EQ(offset, slot * 8) << "progress slot " << slot;
    for (auto [offset, slot] : stream)
        EXPECT_EQ(offset, slot * 8) << "stream slot " << slot;
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Archive.h"

using Archive::ArchiveBad;
using Archive::ArchiveEof;
using Archive::Reader;
using Archive::Writer;

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

}  // namespace

TEST(Archive, NumbersAreLittleEndian) {
    Writer w;
    w.WriteByte(0x12);
    w.WriteWord(0x3456);
    w.WriteDword(0x789ABCDE);
    EXPECT_EQ(w.Bytes(), Bytes({0x12, 0x56, 0x34, 0xDE, 0xBC, 0x9A, 0x78}));
    Reader r(w.Bytes());
    EXPECT_EQ(r.ReadByte(), 0x12);
    EXPECT_EQ(r.ReadWord(), 0x3456);
    EXPECT_EQ(r.ReadDword(), 0x789ABCDEu);
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(Archive, StringLengthPrefixesRoundTrip) {
    struct Case {
        std::size_t length;
        std::vector<std::uint8_t> prefix;
    };
    const Case cases[] = {
        {0, Bytes({0x00})},
        {254, Bytes({0xFE})},
        {255, Bytes({0xFF, 0xFF, 0x00})},
        {0xFFFD, Bytes({0xFF, 0xFD, 0xFF})},
        {0xFFFE, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
    };
    for (const Case& c : cases) {
        const std::string text(c.length, 'x');
        Writer w;
        w.WriteString(text);
        ASSERT_EQ(w.Bytes().size(), c.prefix.size() + c.length) << c.length;
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), w.Bytes().begin())) << c.length;
        Reader r(w.Bytes());
        EXPECT_EQ(r.ReadString(), text);
    }
}

TEST(Archive, CountsUseAWordThenADword) {
    Writer w;
    w.WriteCount(3);
    w.WriteCount(0x10000);
    EXPECT_EQ(w.Bytes(), Bytes({3, 0, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}));
}

TEST(Archive, ObjectTagsNameTheClassOnceThenReferToIt) {
    Writer w;
    w.WriteObjectTag("CThing", 1);
    w.WriteObjectTag("CThing", 1);
    w.WriteObjectTag("COther", 1);
    w.WriteObjectTag("CThing", 1);
    // New class: 0xFFFF, schema, name length, name; the class takes map index
    // 1, its object 2; the next reference is 0x8001.
    EXPECT_EQ(w.Bytes(), Bytes({0xFF, 0xFF, 1, 0, 6, 0, 'C', 'T', 'h', 'i', 'n', 'g', 0x01, 0x80,
                                0xFF, 0xFF, 1, 0, 6, 0, 'C', 'O', 't', 'h', 'e', 'r', 0x01, 0x80}));
    Reader r(w.Bytes());
    EXPECT_TRUE(r.ReadObjectTag("CThing"));
    EXPECT_TRUE(r.ReadObjectTag("CThing"));
    EXPECT_TRUE(r.ReadObjectTag("COther"));
    EXPECT_TRUE(r.ReadObjectTag("CThing"));
}

TEST(Archive, BadAndShortDataThrows) {
    // Each read runs on data that must be refused, never read past its end.
    const std::vector<std::uint8_t> shortString = Bytes({5, 'a', 'b'});
    EXPECT_THROW(Reader(shortString).ReadString(), ArchiveEof);
    const std::vector<std::uint8_t> hugeString = Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_THROW(Reader(hugeString).ReadString(), ArchiveEof);
    const std::vector<std::uint8_t> oneByte = Bytes({1});
    EXPECT_THROW(Reader(oneByte).ReadDword(), ArchiveEof);
    EXPECT_THROW(Reader(oneByte).Skip(2), ArchiveEof);
    // A count far beyond what the data can hold is refused before anything is made.
    const std::vector<std::uint8_t> hugeCount = Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0});
    EXPECT_THROW(Reader(hugeCount).ReadCount(4), ArchiveEof);
    const std::vector<std::uint8_t> otherClass = Bytes({0xFF, 0xFF, 1, 0, 2, 0, 'C', 'X'});
    EXPECT_THROW(Reader(otherClass).ReadObjectTag("CThing"), ArchiveBad);
    const std::vector<std::uint8_t> unknownClassRef = Bytes({0x05, 0x80});
    EXPECT_THROW(Reader(unknownClassRef).ReadObjectTag("CThing"), ArchiveBad);
    const std::vector<std::uint8_t> objectRef = Bytes({0x02, 0x00});
    EXPECT_THROW(Reader(objectRef).ReadObjectTag("CThing"), ArchiveBad);
    const std::vector<std::uint8_t> longName = Bytes({0xFF, 0xFF, 1, 0, 0xFF, 0x7F, 'C'});
    EXPECT_THROW(Reader(longName).ReadObjectTag("C"), ArchiveBad);
    const std::vector<std::uint8_t> nullObject = Bytes({0, 0});
    EXPECT_FALSE(Reader(nullObject).ReadObjectTag("CThing"));
}

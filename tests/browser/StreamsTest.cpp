// The codec's streams over memory and files, and the byte-order reader.

#include <gtest/gtest.h>

#include <memory>

#include "CFileReader.h"
#include "ExifFixture.h"
#include "ISSStreamMem.h"
#include "TestData.h"

TEST(ISSStreamMem, ReadsTheRemainderThenNothing) {
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    ISSStreamMem s(data, 5);
    uint8_t out[8] = {};
    EXPECT_EQ(s.Read(out, 3), 3u);
    EXPECT_EQ(s.Read(out, 8), 2u);
    EXPECT_EQ(out[1], 5);
    EXPECT_EQ(s.Read(out, 8), 0u);
    ISSStreamMem none(data, 0);
    EXPECT_EQ(none.Read(out, 8), 0u);
}

TEST(OSSStream, EncodesIntoAMemoryFileThatDecodesBack) {
    const Fixture::Bytes jpeg = Fixture::EncodeJpeg(33, 17);
    CMemFile file;
    OSSStream out(&file);
    out.Write(jpeg.data(), jpeg.size());
    EXPECT_EQ(out.Written(), jpeg.size());
    ISSStreamMem in(file.Data().data(), uint32_t(file.Data().size()));
    int32_t w = 0, h = 0;
    std::unique_ptr<MiniJpeg::Decoder> d(
        MiniJpeg::CreateDecoder(&in, &w, &h, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(w, 33);
    EXPECT_EQ(h, 17);
}

TEST(CFileReader, ReadsInTheAnnouncedByteOrderAndThrowsOnShortReads) {
    TestData::ScratchDir dir;
    const std::string path = dir / "bytes.bin";
    Fixture::WriteFile(path, {0x01, 0x02, 0x03, 0x04, 0x05});
    CFileReader r(path);
    r.m_bigEndian = 1;
    EXPECT_EQ(r.ReadDword(), 0x01020304u);
    r.Seek(0, CFile::begin);
    r.m_bigEndian = 0;
    EXPECT_EQ(r.ReadDword(), 0x04030201u);
    try {
        r.ReadWord();  // one byte left
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::genericException);
        EXPECT_EQ(e.m_lOsError, -1);
    }
    EXPECT_THROW(CFileReader(dir / "missing.bin"), CFileException);
}

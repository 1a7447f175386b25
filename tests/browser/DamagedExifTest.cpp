// Every prefix of the camera fixture and a bit-flip corpus of its EXIF block:
// each reader gives a result, nothing, or its file exception with the
// generic cause; never a crash or another exception (the address sanitizer
// watches the reads).

#include <gtest/gtest.h>

#include <ctime>

#include "ExifFields.h"
#include "ExifFixture.h"
#include "ExifThumbnail.h"
#include "PhotoDateAndDescription.h"
#include "TestData.h"

using namespace Fixture;

namespace {

// Runs every reader on one file; fails the test on anything but the allowed outcomes.
void ReadAll(const std::string& path, const std::string& what) {
    ThumbBox box{160, 120};
    uint32_t w = 0, h = 0;
    int flag = 0;
    try {
        ExtractExifThumbnail(path, box, w, h, flag);
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::genericException) << what;
    }
    try {
        std::vector<uint32_t> request;
        std::vector<std::string> texts;
        ReadExifFields(path, request, texts);
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::genericException) << what;
    }
    std::time_t when;
    GetExifDateTime(path, when);
    GetImageDescription(path);
}

void ReadAllTiff(const std::string& path, const std::string& what) {
    ThumbBox box{160, 120};
    uint32_t w = 0, h = 0;
    int flag = 0;
    try {
        ExtractTiffThumbnail(path, box, w, h, flag);
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::genericException) << what;
    }
    try {
        std::vector<uint32_t> request;
        std::vector<std::string> texts;
        ReadExifFields(path, request, texts);
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::genericException) << what;
    }
}

}  // namespace

TEST(DamagedExif, EveryPrefixOfTheCameraFile) {
    TestData::ScratchDir dir;
    for (bool bigEndian : {false, true}) {
        CameraOptions o;
        o.bigEndian = bigEndian;
        const Bytes file = CameraJpeg(o);
        const std::string path = dir / "cut.jpg";
        // Every byte of the EXIF segment and the frame header after it; in the
        // main picture's coded data, which the readers never look at, every 16th.
        const size_t exifEnd = 4 + ((size_t(file[4]) << 8) | file[5]) + 400;
        for (size_t n = 0; n < file.size(); n += n < exifEnd ? 1 : 16) {
            WriteFile(path, Bytes(file.begin(), file.begin() + std::ptrdiff_t(n)));
            ReadAll(path, "prefix " + std::to_string(n));
            if (HasFatalFailure() || HasNonfatalFailure())
                return;
        }
    }
}

TEST(DamagedExif, EveryPrefixOfTheTiffFiles) {
    TestData::ScratchDir dir;
    for (bool jpegPreview : {false, true}) {
        const Bytes file = CameraTiff(!jpegPreview, jpegPreview);
        const std::string path = dir / (jpegPreview ? "cut.dng" : "cut.tif");
        for (size_t n = 0; n < file.size(); ++n) {
            WriteFile(path, Bytes(file.begin(), file.begin() + std::ptrdiff_t(n)));
            ReadAllTiff(path, "prefix " + std::to_string(n));
            if (HasFatalFailure() || HasNonfatalFailure())
                return;
        }
    }
}

TEST(DamagedExif, BitFlipsInTheExifBlock) {
    TestData::ScratchDir dir;
    for (bool makerNoteJpeg : {true, false}) {
        CameraOptions o;
        o.makerNoteJpeg = makerNoteJpeg;
        const Bytes file = CameraJpeg(o);
        // The directories and their values; the embedded JPEGs have their own corpus.
        const size_t end = std::min<size_t>(file.size(), 12 + 600);
        const std::string path = dir / "flip.jpg";
        for (size_t i = 4; i < end; ++i) {
            for (uint8_t mask : {0x01, 0x10, 0x80, 0xFF}) {
                Bytes damaged = file;
                damaged[i] ^= mask;
                WriteFile(path, damaged);
                ReadAll(path, "byte " + std::to_string(i) + " mask " + std::to_string(mask));
            }
            if (HasFatalFailure() || HasNonfatalFailure())
                return;
        }
    }
}

TEST(DamagedExif, BitFlipsInTheEmbeddedPreviews) {
    TestData::ScratchDir dir;
    const Bytes file = CameraJpeg();
    const size_t first = Find(file, {0xFF, 0xD8}, 2);  // the first embedded JPEG
    ASSERT_NE(first, std::string::npos);
    const std::string path = dir / "flip.jpg";
    uint32_t seed = 12345;
    for (int round = 0; round < 400; ++round) {
        Bytes damaged = file;
        for (int k = 0; k < 3; ++k) {
            seed = seed * 1103515245u + 12345u;
            const size_t at = first + (seed >> 8) % (file.size() - first);
            damaged[at] ^= uint8_t(1u << ((seed >> 4) & 7));
        }
        WriteFile(path, damaged);
        ReadAll(path, "round " + std::to_string(round));
        if (HasFatalFailure() || HasNonfatalFailure())
            return;
    }
}

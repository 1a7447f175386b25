#pragma once
// Reads an EXIF entry's value in the form its tag needs and has the
// formatter turn it into text. Virtual throughout, so a caller can change a
// single field; the adjustment hooks see each value between reading and
// formatting and change nothing here.
//
// Every value read is checked against the EXIF window (ExifBounds): an
// offset or count that leaves it, or a type or count the tag does not take,
// gives the formatter's Unreadable text.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CExifTagFormat.h"
#include "CFileReader.h"
#include "ExifEntry.h"

class CExifTagReader {
public:
    using Rational = std::pair<uint32_t, uint32_t>;
    using SignedRational = std::pair<int32_t, int32_t>;

    virtual ~CExifTagReader() = default;

    // The file stands at bounds.base when this is called.
    virtual std::string FormatTag(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                  CExifTagFormat& format);
    virtual std::string FormatOther(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                    CExifTagFormat& format);
    virtual std::string FormatUnreadable(CFileReader& file, const ExifEntry& entry, CExifTagFormat& format);

    // Adjustment hooks, one per kind of formatted quantity.
    virtual void AdjustText(uint16_t /*tag*/, std::string& /*text*/) {}
    virtual void AdjustRational(uint16_t /*tag*/, Rational& /*value*/) {}
    virtual void AdjustSignedRational(uint16_t /*tag*/, SignedRational& /*value*/) {}
    virtual void AdjustInteger(uint16_t /*tag*/, uint32_t& /*value*/) {}
    virtual void AdjustShorts(uint16_t /*tag*/, std::vector<uint16_t>& /*values*/) {}

    // Value readers: false when the type is not theirs or the data cannot be read.
    virtual bool ReadAscii(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                           std::string& out);
    virtual bool ReadBytes(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                           std::vector<uint8_t>& out);
    virtual bool ReadShorts(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                            std::vector<uint16_t>& out);
    virtual bool ReadSignedShorts(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                  std::vector<int16_t>& out);
    virtual bool ReadLongs(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                           std::vector<uint32_t>& out);
    virtual bool ReadSignedLongs(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                 std::vector<int32_t>& out);
    virtual bool ReadRationals(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                               std::vector<Rational>& out);
    virtual bool ReadSignedRationals(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                     std::vector<SignedRational>& out);

    // The most value bytes read for one entry; real fields are far smaller.
    static constexpr uint64_t kMaxValueBytes = 1u << 20;

protected:
    // The entry's data bytes: from the value field when they fit in 4, else
    // from base + offset. False when they leave the window.
    bool ReadData(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds, uint64_t size,
                  std::vector<uint8_t>& out);
};

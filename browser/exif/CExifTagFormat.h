#pragma once
// Turns EXIF values into display text. Each kind of value has a virtual
// operation, so a caller can pass a subclass that words single fields its
// own way; the program itself uses this class as it is.

#include <cstdint>
#include <string>
#include <vector>

class QDateTime;

// A date and time in the user's format (short date, time with seconds).
std::string LocaleDateTimeText(const QDateTime& when);

class CExifTagFormat {
public:
    virtual ~CExifTagFormat() = default;

    // printf-style format of one conversion ("%g", "%u", "%d", optionally
    // with a width); any other conversion gives "Unknown type!". Nothing
    // when the denominator is 0.
    virtual std::string RationalText(const char* format, uint32_t numerator, uint32_t denominator);
    virtual std::string SignedRationalText(const char* format, int32_t numerator, int32_t denominator);
    virtual std::string IntegerText(const char* format, uint32_t value);
    // "1/250" below one second, "%3g" from one second up, nothing for 0.
    virtual std::string ExposureTimeText(uint32_t numerator, uint32_t denominator);
    virtual std::string DigitalZoomText(uint32_t numerator, uint32_t denominator);
    virtual std::string OrientationText(uint16_t value);
    virtual std::string FocalLength35Text(uint16_t value);
    virtual std::string CountText(const std::vector<uint16_t>& values);
    // A stored "YYYY:MM:DD hh:mm:ss" in the user's date and time format, or
    // the text as stored when it is no such date.
    virtual std::string DateText(const std::string& stored);
    virtual std::string TextAsStored(const std::string& stored);
    // One-number fields that the base class leaves empty (metering mode,
    // flash, white balance and the like).
    virtual std::string EnumText(uint16_t tag, uint16_t value);
    virtual std::string NoText();
    virtual std::string Unreadable();
};

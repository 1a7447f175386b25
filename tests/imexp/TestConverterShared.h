#pragma once
// What the scriptable test converter and the tests that drive it both need:
// the list of record fields whose offsets the converter reports, and the
// pixel values it generates.
//
// The converter is configured through its own section of the "CONVERT.INI" it
// is handed (or, for ConvGetVersion and ConvAbout, the one beside it). The
// section is named after the module's file name, e.g. [conv_a.so]:
//   Version=0x30300       ConvGetVersion's answer (0x300, import and export)
//   Name=, Filter=, Patterns=, Flags=, Mask=, WriteOptions=   the record
//   Garbage=1             ConvGetDllInfo writes every string field full, unterminated
//   Log=/path             every entry point appends "<module> <entry> <details>" there
//   Fail.<Entry>=code     that entry point returns code (Fail.<Entry>=code@n: at its n-th call)
//   Throw.<Entry>=stream  that entry point throws: "stream" makes the stream throw a
//                         stream exception (a seek before the start), "cpp" throws
//                         std::runtime_error; "@n" as above
//   Check=0               RDCheckFile rejects every file
//   Write.<field>=value   WRSetupWriting sets access, order, fixed, rows, planes,
//                         packed, bluefirst or bpr
//   ErrorText=text        ConvGetErrorString writes text (empty: nothing)
//
// Image files (".tcv") start with a line "TCV", then "key=value" lines, then
// either the end of the file (the pixels are generated: PixelByte) or a line
// "data" followed by the rows, top row first, each planes x bpr bytes. Keys:
// width, height, colour, bits, planes, bpr, packed, inverted, bluefirst,
// palette (grey, invgrey, colour), access, order, fixed, rows, unit, xres, yres,
// images, chooses, format, compression, details. The writer writes the same
// format with "data". Damaged files for the reader: short=n (no band left
// after n rows), liestart=, lierows= (RDReadBand reports that band start or
// row count and hands over nothing), bandrows=n (with a fixed band height in
// the library-driven modes, the converter hands over n rows per band).

#include <cstddef>
#include <cstdint>

#include "ConverterInterface.h"

// X(record, field) for every field whose offset both sides must agree on.
#define TESTCONV_LAYOUT_FIELDS(X)          \
    X(ConverterRecord, path)               \
    X(ConverterRecord, flags)              \
    X(ConverterRecord, subformatMask)      \
    X(ConverterRecord, writeOptions)       \
    X(ConverterRecord, name)               \
    X(ConverterRecord, filterDescription)  \
    X(ConverterRecord, patterns)           \
    X(CONVIMAGEINFO, fileName)             \
    X(CONVIMAGEINFO, formatName)           \
    X(CONVIMAGEINFO, compression)          \
    X(CONVIMAGEINFO, imageCount)           \
    X(CONVIMAGEINFO, imageIndex)           \
    X(CONVIMAGEINFO, width)                \
    X(CONVIMAGEINFO, height)               \
    X(CONVIMAGEINFO, colourType)           \
    X(CONVIMAGEINFO, bitsPerPixel)         \
    X(CONVIMAGEINFO, resolutionUnit)       \
    X(CONVIMAGEINFO, xResolution)          \
    X(CONVIMAGEINFO, yResolution)          \
    X(CONVIMAGEINFO, detailsAvailable)     \
    X(ConverterContext, fileName)          \
    X(ConverterContext, settingsPath)      \
    X(ConverterContext, stream)            \
    X(ConverterContext, owner)             \
    X(ConverterContext, imageIndex)        \
    X(ConverterContext, imageCount)        \
    X(ConverterContext, width)             \
    X(ConverterContext, height)            \
    X(ConverterContext, colourType)        \
    X(ConverterContext, bitsPerPixel)      \
    X(ConverterContext, planes)            \
    X(ConverterContext, bytesPerPlaneRow)  \
    X(ConverterContext, packed)            \
    X(ConverterContext, inverted)          \
    X(ConverterContext, blueFirst)         \
    X(ConverterContext, writeBitsPerPixel) \
    X(ConverterContext, palette)           \
    X(ConverterContext, resolutionUnit)    \
    X(ConverterContext, xResolution)       \
    X(ConverterContext, yResolution)       \
    X(ConverterContext, accessMode)        \
    X(ConverterContext, rowOrder)          \
    X(ConverterContext, fixedBandHeight)   \
    X(ConverterContext, rowsPerBandWanted) \
    X(ConverterContext, accessModeInForce) \
    X(ConverterContext, rowsPerBand)       \
    X(ConverterContext, bandStartRow)      \
    X(ConverterContext, rowsInBand)        \
    X(ConverterContext, paletteData)       \
    X(ConverterContext, reservedTail)

// The three record sizes, then every offset of the list, in list order.
#define TESTCONV_LAYOUT_OFFSET(type, field) static_cast<long>(offsetof(type, field)),
#define TESTCONV_LAYOUT_VALUES                                                                          \
    {                                                                                                   \
        static_cast<long>(sizeof(ConverterRecord)), static_cast<long>(sizeof(CONVIMAGEINFO)),           \
            static_cast<long>(sizeof(ConverterContext)), TESTCONV_LAYOUT_FIELDS(TESTCONV_LAYOUT_OFFSET) \
    }

// Exported by the test converter only: copies its layout values (see above)
// into values and returns how many there are.
using TestConvLayoutFunction = int(long* values, int capacity);

// Byte b of plane p of image row r (counted from the top) of a generated image.
inline std::uint8_t TestConvPixelByte(int row, int plane, int byte) {
    return static_cast<std::uint8_t>(row * 31 + plane * 17 + byte * 7 + 1);
}

#pragma once
// The converter plug-in interface, shared by libformgate.so and every
// converter module. The library finds each entry point by name with dlsym;
// a converter defines them with FORMGATE_CONVERTER_ENTRY (C names, exported)
// and is built with -fvisibility=hidden so that nothing else is exported.
//
// The three records cross the boundary by pointer, so their layout is fixed
// here once for x86-64 and checked at compile time in every module that
// includes this header. The converter record and the image information record
// hold no pointers and keep their historic sizes (348 and 240 bytes); the
// reader/writer context holds five pointers and is laid out for 64 bits
// (896 bytes, every later field moved to keep natural alignment).
//
// Converters should be built with -fno-gnu-unique: a module with unique
// symbols can never be unloaded, and the library frees each converter after
// every operation.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "IOStream.h"

static_assert(sizeof(void*) == 8, "the converter interface is laid out for 64-bit pointers");

// One installed converter. The library writes the path; the converter's
// ConvGetDllInfo fills the rest. Strings are NUL-terminated.
struct ConverterRecord {
    char path[128];               // full path of the converter module
    std::uint32_t flags;          // ConverterFlag bits
    std::uint32_t subformatMask;  // output formats a writer takes (SubformatBit); alpha support
    std::uint16_t writeOptions;   // how resolution is passed to the writer (WriteOption)
    char name[128];               // display name
    char filterDescription[40];   // description for file dialogs
    char patterns[42];            // extension patterns, ';'-separated, e.g. ".tif;.tiff"
};

// Description of one image of a file, filled by RDGetImageInfo.
struct CONVIMAGEINFO {
    char fileName[128];  // the library writes the file's name without its folder
    char formatName[40];
    char compression[40];  // empty: uncompressed
    std::uint16_t imageCount;
    std::uint16_t imageIndex;  // from 0
    std::uint32_t width;
    std::uint32_t height;
    std::uint16_t colourType;  // ImExp::ColourType, 0 to 8
    std::uint16_t bitsPerPixel;
    std::uint16_t resolutionUnit;  // ResolutionUnit
    std::uint16_t reserved226;
    std::uint32_t xResolution;
    std::uint32_t yResolution;
    std::int32_t detailsAvailable;  // non-zero: RDShowDetails can show more
};

// The record of one read or write, allocated and zeroed by the library.
// "host" fields are written by the library, "conv" fields by the converter
// (when reading; when writing the library fills them first and WRSetupWriting
// may change some).
struct ConverterContext {
    const char* fileName;        // host: the file being read, or the target being written (UTF-8)
    const char* settingsPath;    // host: full path of "CONVERT.INI"
    IOStream* stream;            // host: the open file (when writing, the temporary file)
    void* owner;                 // host: the caller's window, or null
    std::uint16_t imageIndex;    // host: 0
    std::uint16_t imageCount;    // host: 1
    std::uint32_t width;         // conv
    std::uint32_t height;        // conv
    std::uint16_t colourType;    // conv: ImExp::ColourType
    std::uint16_t bitsPerPixel;  // conv: all planes together (colour samples only with alpha)
    std::uint16_t planes;        // conv: 1, 3, or 4
    std::uint16_t reserved34;
    std::uint32_t bytesPerPlaneRow;  // conv
    std::int32_t packed;             // conv: pixels of fewer than 8 bits packed, else one byte each
    std::int32_t inverted;           // conv: grey values run from white (0) to black
    std::int32_t blueFirst;          // conv: samples come blue, green, red
    std::int32_t writeBitsPerPixel;  // writing: copy of the output depth; reading: reserved
    std::uint8_t* palette;           // host: points at paletteData (reading) or at a separate palette
    std::uint16_t resolutionUnit;    // conv: ResolutionUnit
    std::uint16_t reserved62;
    std::int32_t xResolution;  // conv, in the unit above
    std::int32_t yResolution;
    std::uint16_t accessMode;       // conv: 0 converter-driven; 1, 2 library-driven; 3 rowOrder decides
    std::uint16_t rowOrder;         // conv: 2 from the bottom up, anything else from the top down
    std::uint16_t fixedBandHeight;  // conv: non-zero: rowsPerBandWanted stands as it is
    std::uint16_t reserved78;
    std::int32_t rowsPerBandWanted;   // conv: at least 1
    std::uint16_t accessModeInForce;  // host: non-zero: the library drives the bands
    std::uint16_t reserved86;
    std::int32_t rowsPerBand;   // host
    std::int32_t bandStartRow;  // host or conv: first row of the band counted from the top
    std::int32_t rowsInBand;    // host or conv
    std::int32_t reserved100;
    std::uint8_t paletteData[768];  // conv: 256 red, then 256 green, then 256 blue
    std::uint32_t reservedTail;
};

#define FORMGATE_RECORD_FIELD(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "::" #field " moved")

static_assert(std::is_standard_layout_v<ConverterRecord> && std::is_trivially_copyable_v<ConverterRecord>);
static_assert(sizeof(ConverterRecord) == 348);
FORMGATE_RECORD_FIELD(ConverterRecord, path, 0);
FORMGATE_RECORD_FIELD(ConverterRecord, flags, 128);
FORMGATE_RECORD_FIELD(ConverterRecord, subformatMask, 132);
FORMGATE_RECORD_FIELD(ConverterRecord, writeOptions, 136);
FORMGATE_RECORD_FIELD(ConverterRecord, name, 138);
FORMGATE_RECORD_FIELD(ConverterRecord, filterDescription, 266);
FORMGATE_RECORD_FIELD(ConverterRecord, patterns, 306);

static_assert(std::is_standard_layout_v<CONVIMAGEINFO> && std::is_trivially_copyable_v<CONVIMAGEINFO>);
static_assert(sizeof(CONVIMAGEINFO) == 240);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, fileName, 0);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, formatName, 128);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, compression, 168);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, imageCount, 208);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, imageIndex, 210);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, width, 212);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, height, 216);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, colourType, 220);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, bitsPerPixel, 222);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, resolutionUnit, 224);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, reserved226, 226);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, xResolution, 228);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, yResolution, 232);
FORMGATE_RECORD_FIELD(CONVIMAGEINFO, detailsAvailable, 236);

static_assert(std::is_standard_layout_v<ConverterContext> && std::is_trivially_copyable_v<ConverterContext>);
static_assert(sizeof(ConverterContext) == 896);
FORMGATE_RECORD_FIELD(ConverterContext, fileName, 0);
FORMGATE_RECORD_FIELD(ConverterContext, settingsPath, 8);
FORMGATE_RECORD_FIELD(ConverterContext, stream, 16);
FORMGATE_RECORD_FIELD(ConverterContext, owner, 24);
FORMGATE_RECORD_FIELD(ConverterContext, imageIndex, 32);
FORMGATE_RECORD_FIELD(ConverterContext, imageCount, 34);
FORMGATE_RECORD_FIELD(ConverterContext, width, 36);
FORMGATE_RECORD_FIELD(ConverterContext, height, 40);
FORMGATE_RECORD_FIELD(ConverterContext, colourType, 44);
FORMGATE_RECORD_FIELD(ConverterContext, bitsPerPixel, 46);
FORMGATE_RECORD_FIELD(ConverterContext, planes, 48);
FORMGATE_RECORD_FIELD(ConverterContext, reserved34, 50);
FORMGATE_RECORD_FIELD(ConverterContext, bytesPerPlaneRow, 52);
FORMGATE_RECORD_FIELD(ConverterContext, packed, 56);
FORMGATE_RECORD_FIELD(ConverterContext, inverted, 60);
FORMGATE_RECORD_FIELD(ConverterContext, blueFirst, 64);
FORMGATE_RECORD_FIELD(ConverterContext, writeBitsPerPixel, 68);
FORMGATE_RECORD_FIELD(ConverterContext, palette, 72);
FORMGATE_RECORD_FIELD(ConverterContext, resolutionUnit, 80);
FORMGATE_RECORD_FIELD(ConverterContext, reserved62, 82);
FORMGATE_RECORD_FIELD(ConverterContext, xResolution, 84);
FORMGATE_RECORD_FIELD(ConverterContext, yResolution, 88);
FORMGATE_RECORD_FIELD(ConverterContext, accessMode, 92);
FORMGATE_RECORD_FIELD(ConverterContext, rowOrder, 94);
FORMGATE_RECORD_FIELD(ConverterContext, fixedBandHeight, 96);
FORMGATE_RECORD_FIELD(ConverterContext, reserved78, 98);
FORMGATE_RECORD_FIELD(ConverterContext, rowsPerBandWanted, 100);
FORMGATE_RECORD_FIELD(ConverterContext, accessModeInForce, 104);
FORMGATE_RECORD_FIELD(ConverterContext, reserved86, 106);
FORMGATE_RECORD_FIELD(ConverterContext, rowsPerBand, 108);
FORMGATE_RECORD_FIELD(ConverterContext, bandStartRow, 112);
FORMGATE_RECORD_FIELD(ConverterContext, rowsInBand, 116);
FORMGATE_RECORD_FIELD(ConverterContext, reserved100, 120);
FORMGATE_RECORD_FIELD(ConverterContext, paletteData, 124);
FORMGATE_RECORD_FIELD(ConverterContext, reservedTail, 892);

#undef FORMGATE_RECORD_FIELD

namespace ImExp {

// Capability flags of a converter record.
enum ConverterFlag : std::uint32_t {
    FlagRead = 0x1,
    FlagWrite = 0x2,
    FlagAbout = 0x4,          // exports ConvAbout
    FlagSetup = 0x8,          // exports ConvSetup
    FlagCheckFile = 0x10,     // exports RDCheckFile
    FlagSeveralImages = 0x20  // files may hold several images
};

// Bits of ConvGetVersion's result.
enum VersionBits : std::uint32_t {
    VersionNumberMask = 0xFFFF,
    VersionMinimum = 0x300,  // lower numbers are not used
    VersionImport = 0x10000,
    VersionExport = 0x20000,
};

// How a writer wants the resolution (ConverterRecord::writeOptions).
enum WriteOption : std::uint16_t {
    WriteResolutionNone = 0x1,
    WriteResolutionDpi = 0x4,
    WriteResolutionDpcm = 0x8,
    WriteResolutionScreen = 0x10,  // 640 x 480
};

enum ResolutionUnit : std::uint16_t {
    UnitUnknown = 0,
    UnitAspectRatio = 1,
    UnitDotsPerInch = 2,
    UnitDotsPerCentimetre = 3,
    UnitScreenPixels = 4,
};

}  // namespace ImExp

// Converter entry points, all plain C functions found by name. Results are 0
// or an error code of Formgate.h unless said otherwise.
#define FORMGATE_CONVERTER_ENTRY extern "C" __attribute__((visibility("default")))

// Low 16 bits: interface version (at least 0x300); bit 16 import, bit 17 export.
FORMGATE_CONVERTER_ENTRY int ConvGetVersion();
// Fills the record from flags on; the path is already set.
FORMGATE_CONVERTER_ENTRY void ConvGetDllInfo(ConverterRecord* record, const char* settingsPath);
FORMGATE_CONVERTER_ENTRY void ConvSetup(void* owner, const char* settingsPath);
FORMGATE_CONVERTER_ENTRY void ConvAbout(void* owner);
// Writes the message of a code of 16 or more into text (260 bytes, NUL included).
FORMGATE_CONVERTER_ENTRY void ConvGetErrorString(int code, const char* fileTitle, const char* settingsPath,
                                                 char* text);
// Non-zero when the converter takes the file.
FORMGATE_CONVERTER_ENTRY int RDCheckFile(IOStream* stream, const char* settingsPath);
FORMGATE_CONVERTER_ENTRY int RDShowDetails(IOStream* stream, void* owner, const char* settingsPath,
                                           CONVIMAGEINFO* info);
FORMGATE_CONVERTER_ENTRY int RDGetImageCount(IOStream* stream, const char* settingsPath, int* count,
                                             int* chooses);
FORMGATE_CONVERTER_ENTRY int RDGetImageInfo(IOStream* stream, int imageIndex, const char* settingsPath,
                                            CONVIMAGEINFO* info);
FORMGATE_CONVERTER_ENTRY int RDReadHeader(ConverterContext* context, char** options, int optionCount);
FORMGATE_CONVERTER_ENTRY int RDSetupReading(ConverterContext* context);
// 0: a band is in the buffer; 1: no band left; other: an error code.
FORMGATE_CONVERTER_ENTRY int RDReadBand(ConverterContext* context, void* band);
FORMGATE_CONVERTER_ENTRY int RDCleanUp(ConverterContext* context);
FORMGATE_CONVERTER_ENTRY int WRSetupWriting(ConverterContext* context, char** options, int optionCount);
FORMGATE_CONVERTER_ENTRY int WRWriteHeader(ConverterContext* context);
// 0: band taken; 1: finished (converter-driven); other: an error code.
FORMGATE_CONVERTER_ENTRY int WRWriteBand(ConverterContext* context, void* band);
FORMGATE_CONVERTER_ENTRY int WREndWriting(ConverterContext* context);
FORMGATE_CONVERTER_ENTRY int WRCleanUp(ConverterContext* context);

#pragma once
// The public boundary of libformgate.so, the image import/export library.
//
// A caller never hands the library an image buffer. To read, it passes a sink
// derived from CAbstractReadWA that the library fills band by band; to write,
// a source derived from CAbstractWriteWA that the library asks row by row; for
// progress and cancel, an object derived from CProgress (a null pointer means
// no progress and no cancel). The caller owns these objects; the library keeps
// no pointer to them after a call returns. Row indices count from the bottom
// of the image (0 = bottom row).
//
// Every operation returns 0 for failure and reports one error code. Names of
// files are UTF-8 in the 8-bit functions and UTF-16 (char16_t) in the
// functions ending in W. An owner window is a QWidget* passed as void*; a null
// owner suppresses the error message boxes.

#include "FormgateExport.h"

// Image sink. In slots 3 to 10 the first two int arguments are always 0 and
// are to be ignored; an int result of 0 means success.
class FORMGATE_API CAbstractReadWA {
public:
    CAbstractReadWA();
    CAbstractReadWA(const CAbstractReadWA& other);
    CAbstractReadWA& operator=(const CAbstractReadWA& other);
    virtual ~CAbstractReadWA();

    virtual int Reserved1(int) = 0;
    virtual int Reserved2(int, int) = 0;
    // Once, after the header was accepted; non-zero ends the read (error 19).
    virtual int SetSize(int, int, int width, int height) = 0;
    // Once, after SetSize; the result is ignored.
    virtual int SetFormat(int, int, int pixelType) = 0;
    // Once for pixel data of 8 bits or fewer: count entries of red, green, blue, 0.
    virtual int SetPalette(int, int, const unsigned char* entries, int count) = 0;
    virtual int SetResolution(int, int, int xDpi, int yDpi) = 0;
    // Once for every row, in the chosen pixel type.
    virtual int PutRow(int, int, int row, const void* pixels) = 0;
    // After PutRow of an image with alpha: 8-bit samples for pixel types 8 and
    // 16 (and 4), 16-bit samples for 32 and 64.
    virtual int PutAlphaRow(int, int, int row, const void* alpha) = 0;
    // Once, after SetFormat: 1 when alpha rows follow, else 0.
    virtual int SetAlphaChannel(int, int, int hasAlpha) = 0;
    virtual int Reserved10(int, int, int, int, int) = 0;
};

// Image source. In slots 3 to 10 the first two int arguments are always 0 and
// are to be ignored; an int result of 0 means success.
class FORMGATE_API CAbstractWriteWA {
public:
    CAbstractWriteWA();
    CAbstractWriteWA(const CAbstractWriteWA& other);
    CAbstractWriteWA& operator=(const CAbstractWriteWA& other);
    virtual ~CAbstractWriteWA();

    virtual int Reserved1(int) = 0;
    virtual int Reserved2(int, int) = 0;
    virtual int GetSize(int, int, int* width, int* height) = 0;
    virtual int GetFormat(int, int, int* pixelType) = 0;
    // Up to 256 entries of red, green, blue, 0 for paletted types.
    virtual int GetPalette(int, int, unsigned char* entries) = 0;
    // Dots per inch; 0 stands for 72.
    virtual int GetResolution(int, int, int* xDpi, int* yDpi) = 0;
    virtual int GetRow(int, int, int row, void* buffer) = 0;
    virtual int GetAlphaRow(int, int, int row, void* buffer) = 0;
    // Non-zero when the source carries alpha.
    virtual int HasAlpha(int, int) = 0;
    virtual int Reserved10(int, int, int, int, int) = 0;
};

// Progress and cancel of one operation.
class FORMGATE_API CProgress {
public:
    CProgress();
    CProgress(const CProgress& other);
    CProgress& operator=(const CProgress& other);
    virtual ~CProgress();

    // Before the first band.
    virtual void Begin() = 0;
    // After the last band, also after a failure inside the band loop.
    virtual void End() = 0;
    // After each row: done rows so far (from 0) of total; 0 cancels (error 12).
    virtual int Step(int done, int total) = 0;
};

namespace ImExp {

// Pixel types: one code each, or'ed together where a set of accepted types is asked.
// Rows need no alignment: (bits per pixel x width + 7) / 8 bytes.
enum PixelType : int {
    PixelBilevel = 1,     // 1 bit, 8 pixels per byte, first pixel in the high bit
    PixelPalette16 = 2,   // 4 bits, first pixel in the high nibble
    PixelPalette256 = 4,  // 8 bits, palette index
    PixelGrey8 = 8,       // 8 bits
    PixelRgb24 = 16,      // bytes blue, green, red
    PixelGrey16 = 32,     // one 16-bit sample
    PixelRgb48 = 64,      // 16-bit samples blue, green, red
};

// Colour types of the converter interface.
enum ColourType : int {
    ColourGrayScale = 0,
    ColourGrayPaletted = 1,
    ColourColorPaletted = 2,
    ColourRgb = 3,
    ColourGrayAlpha = 4,
    ColourRgbAlpha = 5,
    ColourYCbCr = 6,
    ColourLab = 7,
    ColourCmyk = 8,
};

// Error codes; converters return the same codes from their entry points.
enum ErrorCode : int {
    ErrorNone = 0,
    ErrorUnexpectedEnd = 1,
    ErrorNoMemory = 2,
    ErrorUnknownFormat = 3,
    ErrorInvalidFile = 4,
    ErrorUnsupportedSubformat = 5,
    ErrorCannotOpen = 6,
    ErrorNoImages = 7,
    ErrorWrongImageNumber = 8,
    ErrorFileTooBig = 9,
    ErrorConverterInUse = 10,
    ErrorIllegalConversion = 11,
    ErrorCancelled = 12,
    ErrorDiskFull = 13,
    ErrorDecompressor = 14,
    ErrorGeneral = 15,
    // 16 and above are converter-specific; the library raises 17 to 20 itself.
    ErrorCustom = 16,
    ErrorNoConverter = 17,
    ErrorConverterMissing = 18,
    ErrorSinkOrSource = 19,
    ErrorNoWriter = 20,
};

}  // namespace ImExp

// A box for thumbnails, in pixels.
struct ImExpRect {
    int left;
    int top;
    int right;
    int bottom;
};

// Reading.
FORMGATE_API int ImExp_ReadFile(CAbstractReadWA* sink, void* owner, const char* path, int acceptedTypes,
                                CProgress* progress, char** options, int optionCount);
FORMGATE_API int ImExp_ReadFileW(CAbstractReadWA* sink, void* owner, const char16_t* path, int acceptedTypes,
                                 CProgress* progress, char** options, int optionCount);
FORMGATE_API int ImExp_ReadThumb(CAbstractReadWA* sink, void* owner, const char* path, ImExpRect* box);
// Reads nothing and returns 0.
FORMGATE_API int ImExp_ReadThumbW(CAbstractReadWA* sink, void* owner, const char16_t* path, ImExpRect* box);
FORMGATE_API int ImExp_SelectFileAndRead(CAbstractReadWA* sink, void* owner, char* path, int acceptedTypes,
                                         CProgress* progress, char** options, int optionCount);
FORMGATE_API int ImExp_SelectFileAndReadW(CAbstractReadWA* sink, void* owner, char16_t* path,
                                          int acceptedTypes, CProgress* progress, char** options,
                                          int optionCount);

// Writing.
FORMGATE_API int ImExp_WriteFile(const CAbstractWriteWA* source, void* owner, const char* path,
                                 int* pixelType, CProgress* progress, char** options, int optionCount);
FORMGATE_API int ImExp_WriteFileW(const CAbstractWriteWA* source, void* owner, const char16_t* path,
                                  int* pixelType, CProgress* progress, char** options, int optionCount);
FORMGATE_API int ImExp_SelectFileAndWrite(const CAbstractWriteWA* source, void* owner, char* path,
                                          int* pixelType, CProgress* progress, char** options,
                                          int optionCount);
FORMGATE_API int ImExp_SelectFileAndWriteW(const CAbstractWriteWA* source, void* owner, char16_t* path,
                                           int* pixelType, CProgress* progress, char** options,
                                           int optionCount);

// Converter choice. FindReader prefers the reader named in converterName (may
// be null) and copies the chosen reader's display name there: room for 128
// characters. FindWriter with a null source asks for any writer of the name.
FORMGATE_API int FindReader(const char* path, char* converterName);
FORMGATE_API int FindWriter(CAbstractWriteWA* source, const char* path);

// Converter setup.
FORMGATE_API int ImExp_ConfigureConverters(void* owner);
// The set-up box of the converter that ImExp_WriteFile would write source to
// path with (any writer of the name when source is null), so a caller can let
// the user choose that format's settings before writing. 1 when a box was
// shown, 0 when that converter has none or no writer takes the file.
FORMGATE_API int ImExp_SetupWriter(const CAbstractWriteWA* source, void* owner, const char* path);

// Format lists.
FORMGATE_API int ImExp_FillReadFormatsInfo(char* buffer, unsigned size);
FORMGATE_API int ImExp_FillReadFormatsInfoW(char16_t* buffer, unsigned size);
FORMGATE_API int ImExp_FillSaveFormatsInfo(char* buffer, unsigned size);
FORMGATE_API int ImExp_FillSaveFormatsInfoW(char16_t* buffer, unsigned size);
FORMGATE_API int ImExp_FillSaveFormatsInfoEx(char* buffer, unsigned size, int pixelType);
FORMGATE_API int ImExp_FillSaveFormatsInfoExW(char16_t* buffer, unsigned size, int pixelType);

// File dialogs; path gives the initial name and receives the choice.
FORMGATE_API int ImExp_SelectFileToRead(void* owner, char* path);
FORMGATE_API int ImExp_SelectFileToReadW(void* owner, char16_t* path);
FORMGATE_API int ImExp_SelectFileToReadNoTemplate(void* owner, char* path);
FORMGATE_API int ImExp_SelectFileToReadNoTemplate(void* owner, char16_t* path);
FORMGATE_API int ImExp_SelectFileToWrite(void* owner, int pixelType, char* path);
FORMGATE_API int ImExp_SelectFileToWriteW(void* owner, int pixelType, char16_t* path);

// Image information; info points at a CONVIMAGEINFO (ConverterInterface.h).
// ImExp_GetFileInfo never shows anything; the W variant writes the file's
// title in 16-bit characters.
FORMGATE_API int ImExp_GetFileInfo(void* info, const char* path, int ignored);
FORMGATE_API int ImExp_GetFileInfoW(void* info, const char16_t* path, int ignored);
FORMGATE_API int ImExp_ShowFileInfo(void* owner, const char* path, int imageNumber);
FORMGATE_API int ImExp_ShowFileInfoW(void* owner, const char16_t* path, int imageNumber);

// A file-open dialog over the installed readers, with "&Info..." and
// "&Browse...". The choice is remembered in "CONVERT.INI" as the library's
// own open dialog does. Callers may derive from it.
class FORMGATE_API COVFileOpenDlg {
public:
    // openFileDialog, flags and filter are kept for callers that read them back;
    // the dialog always lists the readers. fileName is the starting name (UTF-8)
    // and parent the owner window (a QWidget* passed as void*, may be null).
    explicit COVFileOpenDlg(int openFileDialog, const char* defaultExtension = nullptr,
                            const char* fileName = nullptr, unsigned long flags = 0,
                            const char* filter = nullptr, void* parent = nullptr);
    COVFileOpenDlg(const COVFileOpenDlg&) = delete;
    COVFileOpenDlg& operator=(const COVFileOpenDlg&) = delete;
    virtual ~COVFileOpenDlg();

    // 1 when the user chose a file, 2 when cancelled, 0 when no dialog could be
    // shown (no reader installed: error 17 is reported to the owner).
    virtual int DoModal();
    // The chosen file (UTF-8) after DoModal returned 1, else the starting name.
    const char* GetPathName() const;

    // Non-zero: "AVI Files (*.AVI)" is offered after the readers. 0 after construction.
    int m_bVideo;

private:
    struct Data;
    Data* m_data;
};

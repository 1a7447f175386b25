#pragma once
// The program's only door to the image import/export library: the sink that
// turns what a reader delivers into a bitmap, the source that serves a packed
// bottom-up DIB to a writer, the two progress objects, and the forwarders.
// Row indices crossing this boundary count from the bottom (0 = bottom row).

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EngineCallbacksEx.h"
#include "Formgate.h"
#include "RemovableMedia.h"

// The header of a packed DIB; a colour table of RgbQuad entries follows it
// for depths of 8 bits or fewer.
struct BitmapInfoHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;  // BI_RGB
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

struct RgbQuad {
    std::uint8_t blue, green, red, reserved;
};

// A header with room for its full colour table.
struct BitmapInfo {
    BitmapInfoHeader header;
    RgbQuad colors[256] = {};
};

// What a read produces: lines top-down (line 0 is the image's top), 4-byte
// aligned, in one of the depths 1, 4, 8 (indexed) or 24 (blue, green, red).
struct ReadBitmap {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int stride = 0;
    std::vector<std::uint8_t> bits;
    // The colours the indexed lines refer to (red, green, blue, 0 each).
    std::vector<std::uint8_t> palette;
    std::uint8_t* Line(int y) { return bits.data() + static_cast<std::size_t>(y) * stride; }
    const std::uint8_t* Line(int y) const { return bits.data() + static_cast<std::size_t>(y) * stride; }
};

// Status of the sink's bitmap, the caller's test after a read.
enum class ReadStatus { Empty, Ok, NoSize, UnknownFormat, NoMemory };

class CReadFilePlus : public CAbstractReadWA {
public:
    CReadFilePlus() = default;
    ~CReadFilePlus() override = default;

    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int SetSize(int, int, int width, int height) override;
    int SetFormat(int, int, int pixelType) override;
    int SetPalette(int, int, const unsigned char* entries, int count) override;
    int SetResolution(int, int, int xDpi, int yDpi) override;
    int PutRow(int, int, int row, const void* pixels) override;
    int PutAlphaRow(int, int, int, const void*) override { return 0; }
    int SetAlphaChannel(int, int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }

    // Drops the bitmap after a failed read.
    void Abort();
    // The bitmap is there and every row it received fitted.
    bool IsGood() const { return m_status == ReadStatus::Ok; }
    ReadStatus Status() const { return m_status; }
    // Hands the bitmap over; the sink is empty afterwards.
    ReadBitmap TakeBitmap();
    const ReadBitmap& Bitmap() const { return m_bitmap; }
    int XResolution() const { return m_xDpi; }
    int YResolution() const { return m_yDpi; }
    int PixelType() const { return m_pixelType; }
    const std::uint8_t* Palette() const { return m_palette; }

private:
    bool CreateBitmap();

    int m_highByte = 0;
    ReadStatus m_status = ReadStatus::Empty;
    ReadBitmap m_bitmap;
    int m_height = 0;
    int m_width = 0;
    int m_pixelType = 0;
    int m_bitsPerPixel = 0;
    std::uint8_t m_palette[256 * 4] = {};
    int m_paletteCount = 0;
    int m_xDpi = 0;
    int m_yDpi = 0;
    int m_rowBytes = 0;
};

class CWriteFilePluss : public CAbstractWriteWA {
public:
    // header: a packed DIB's header, its colour table following; bits: its
    // bottom-up lines. Both stay the caller's.
    CWriteFilePluss(const BitmapInfoHeader* header, const std::uint8_t* bits);
    ~CWriteFilePluss() override = default;

    int Reserved1(int) override { return 1; }
    int Reserved2(int, int) override { return 1; }
    int GetSize(int, int, int* width, int* height) override;
    int GetFormat(int, int, int* pixelType) override;
    int GetPalette(int, int, unsigned char* entries) override;
    int GetResolution(int, int, int* xDpi, int* yDpi) override;
    int GetRow(int, int, int row, void* buffer) override;
    int GetAlphaRow(int, int, int, void*) override { return 0; }
    int HasAlpha(int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }

    unsigned Stride() const { return m_stride; }

private:
    const BitmapInfoHeader* m_header;
    const std::uint8_t* m_bits;
    unsigned m_stride = 0;
};

// Progress of a write (or read) on the main frame's progress window.
class CMyProgress : public CProgress {
public:
    CMyProgress(IProgressIndicatorEx* indicator, unsigned stringId);
    void Begin() override;
    void End() override;
    int Step(int done, int total) override;
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
    IProgressIndicatorEx* m_indicator;
};

// Progress of the browser's loader: cancels once the loader's stop flag is
// set. The flag is the loader's, handed in; Begin clears it.
class CReadProgress : public CProgress {
public:
    explicit CReadProgress(std::atomic<int>& cancel) : m_cancel(cancel) {}
    void Begin() override;
    void End() override {}
    int Step(int done, int total) override;

private:
    std::atomic<int>& m_cancel;
};

// Reads through the module; 0 without a call when the path lies on a medium
// that is gone. A CReadFilePlus that ends without a good bitmap fails the
// read and is aborted. The last two values have no effect.
int ReadImageFile(CAbstractReadWA* sink, void* owner, const char* path, int acceptedTypes,
                  CProgress* progress, char** options, int optionCount, int, int);
// ImExp_WriteFile.
int WriteImageFile(const CAbstractWriteWA* source, void* owner, const char* path, int* pixelType,
                   CProgress* progress, char** options, int optionCount);
// ImExp_SetupWriter: the set-up box of the format path will be written in.
int SetupImageWriter(const CAbstractWriteWA* source, void* owner, const char* path);
// ImExp_FillReadFormatsInfo and ImExp_FillSaveFormatsInfoEx.
int FillReadFormatsInfo(char* buffer, unsigned size);
int FillSaveFormatsInfoEx(char* buffer, unsigned size, int pixelType);

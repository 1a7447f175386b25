#pragma once
// MiniJpeg: the program's own baseline JPEG codec. Whole images are encoded and
// decoded one row at a time over byte streams that the caller derives.

#include <cstddef>
#include <cstdint>
#include <exception>

namespace MiniJpeg {

// The one failure the codec reports, whatever went wrong.
class Error : public std::exception {
public:
    const char* what() const noexcept override { return "Jpeg error"; }
};

[[noreturn]] void ThrowError();

// Input byte stream: the caller supplies Read; the codec reads through a
// 1024-byte buffer that keeps room in front of refilled data for push-back.
class IStream {
public:
    IStream();
    virtual ~IStream();
    IStream(const IStream&) = delete;
    IStream& operator=(const IStream&) = delete;

    // Copies at most maxCount bytes to dst; 0 means the end of the data.
    virtual size_t Read(void* dst, size_t maxCount) = 0;

    size_t Fill();
    uint8_t ReadByte() {
        if (m_pos >= m_end)
            return ReadByteSlow();
        return *m_pos++;
    }
    // The next byte, or -1 at the end of the data (no throw).
    int ReadByteOrEnd() {
        if (m_pos >= m_end && Fill() < 1)
            return -1;
        return *m_pos++;
    }
    uint16_t ReadWord();
    void PutBack(uint8_t byte);

private:
    uint8_t ReadByteSlow();

    uint8_t* m_buffer;
    uint8_t* m_pos;
    uint8_t* m_end;
    uint8_t* m_bufferEnd;
    uint8_t* m_refillOrigin;
};

// Output byte stream: the caller supplies Write and Flush; the codec writes
// through a 1024-byte buffer.
class OStream {
public:
    OStream();
    virtual ~OStream();
    OStream(const OStream&) = delete;
    OStream& operator=(const OStream&) = delete;

    virtual void Write(const void* src, size_t count) = 0;
    // Makes what was written durable.
    virtual void Flush() = 0;

    void PutByte(uint8_t byte) {
        if (m_pos >= m_bufferEnd)
            FlushBuffer();
        *m_pos++ = byte;
    }
    void WriteBytes(const void* src, size_t count);
    void FlushBuffer();
    void Close();

private:
    uint8_t* m_buffer;
    uint8_t* m_pos;
    uint8_t* m_bufferEnd;
};

// Encoder: WriteLine is called exactly `height` times; the last call completes
// the file and closes the stream.
class Coder {
public:
    virtual ~Coder() = default;
    virtual void WriteLine(const uint8_t* row) = 0;
};

// Decoder: each ReadLine returns the next row, valid until the next call.
class Decoder {
public:
    virtual ~Decoder() = default;
    virtual const uint8_t* ReadLine() = 0;
};

// colour != 0: rows of R, G, B; else grey bytes. sampling 1: luminance 2x1,
// 0: 2x2. oneDqt != 0: both quantisation tables in one segment. densityUnit
// 2 = dots per inch, 3 = dots per centimetre, anything else = no unit.
// Returns null only when memory runs out; bad arguments throw Error.
Coder* CreateCoder(OStream* out, int32_t width, int32_t height, int colour, int quality, int sampling,
                   int oneDqt, int densityUnit, uint16_t xDensity, uint16_t yDensity);

// Parses every header up to the scan. Null out-arguments are skipped. colour
// is 1 for R, G, B rows, 0 for grey; densityUnit is 0 without a JFIF header,
// else 1 (no unit), 2 (dots per inch) or 3 (dots per centimetre).
// Returns null only when memory runs out; bad data throws Error.
Decoder* CreateDecoder(IStream* in, int32_t* width, int32_t* height, uint8_t* colour, int32_t* densityUnit,
                       uint16_t* xDensity, uint16_t* yDensity);

void DeleteDecoder(Decoder* object);
void DeleteDecoder(Coder* object);

}  // namespace MiniJpeg

// Buffered byte streams, the error type and the factory functions.

#include <algorithm>
#include <cstring>
#include <new>

#include "CoderImpl.h"
#include "DecoderImpl.h"
#include "MiniJpeg.h"

namespace MiniJpeg {

namespace {
constexpr size_t kBufferSize = 1024;
// Bytes kept in front of refilled data so that a marker and the bytes held by
// the bit reader can be given back.
constexpr size_t kPutBackRoom = 4;
}  // namespace

void ThrowError() {
    throw Error();
}

IStream::IStream()
    : m_buffer(new uint8_t[kBufferSize]),
      m_pos(m_buffer),
      m_end(m_buffer),
      m_bufferEnd(m_buffer + kBufferSize),
      m_refillOrigin(m_buffer + kPutBackRoom) {}

IStream::~IStream() {
    delete[] m_buffer;
}

size_t IStream::Fill() {
    m_pos = std::min(m_end, m_refillOrigin);
    const size_t room = static_cast<size_t>(m_bufferEnd - m_pos);
    const size_t count = Read(m_pos, room);
    // A reader that claims more than it was offered has overrun our buffer.
    if (count > room)
        ThrowError();
    m_end = m_pos + count;
    return count;
}

uint8_t IStream::ReadByteSlow() {
    if (Fill() < 1)
        ThrowError();
    return *m_pos++;
}

uint16_t IStream::ReadWord() {
    const uint16_t high = ReadByte();
    return static_cast<uint16_t>((high << 8) | ReadByte());
}

void IStream::PutBack(uint8_t byte) {
    if (m_pos <= m_buffer)
        ThrowError();
    *--m_pos = byte;
}

OStream::OStream()
    : m_buffer(new uint8_t[kBufferSize]), m_pos(m_buffer), m_bufferEnd(m_buffer + kBufferSize) {}

OStream::~OStream() {
    delete[] m_buffer;
}

void OStream::WriteBytes(const void* src, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(src);
    while (count > 0) {
        if (m_pos >= m_bufferEnd)
            FlushBuffer();
        const size_t chunk = std::min(count, static_cast<size_t>(m_bufferEnd - m_pos));
        std::memcpy(m_pos, p, chunk);
        m_pos += chunk;
        p += chunk;
        count -= chunk;
    }
}

void OStream::FlushBuffer() {
    // Reset before writing so that a sink that throws leaves a usable buffer.
    const size_t count = static_cast<size_t>(m_pos - m_buffer);
    m_pos = m_buffer;
    Write(m_buffer, count);
}

void OStream::Close() {
    FlushBuffer();
    Flush();
}

Coder* CreateCoder(OStream* out, int32_t width, int32_t height, int colour, int quality, int sampling,
                   int oneDqt, int densityUnit, uint16_t xDensity, uint16_t yDensity) {
    try {
        return new CoderImpl(out, width, height, colour != 0, quality, sampling != 0, oneDqt != 0,
                             densityUnit, xDensity, yDensity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

Decoder* CreateDecoder(IStream* in, int32_t* width, int32_t* height, uint8_t* colour, int32_t* densityUnit,
                       uint16_t* xDensity, uint16_t* yDensity) {
    try {
        return new DecoderImpl(in, width, height, colour, densityUnit, xDensity, yDensity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void DeleteDecoder(Decoder* object) {
    delete object;
}

void DeleteDecoder(Coder* object) {
    delete object;
}

}  // namespace MiniJpeg

#pragma once
// Adapters between the JPEG codec's streams and the browser's byte sources:
// decoding from a block of memory, encoding into a CFile.

#include <cstddef>
#include <cstdint>

#include "CFile.h"
#include "MiniJpeg.h"

// Reads a block that belongs to the caller and must outlive the stream.
class ISSStreamMem : public MiniJpeg::IStream {
public:
    ISSStreamMem(const void* data, uint32_t size) : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}

    // Copies what is left, up to count; 0 once the block is used up.
    size_t Read(void* dst, size_t count) override;

private:
    const uint8_t* m_data;
    uint32_t m_position = 0;
    uint32_t m_size;
};

// Writes into an open file that belongs to the caller; the file's exceptions
// pass through to the codec's caller.
class OSSStream : public MiniJpeg::OStream {
public:
    explicit OSSStream(CFile* file) : m_file(file) {}

    void Write(const void* src, size_t count) override;
    void Flush() override;

    uint32_t Written() const { return m_written; }

private:
    CFile* m_file;
    uint32_t m_written = 0;
};

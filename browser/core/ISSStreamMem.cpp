#include "ISSStreamMem.h"

#include <algorithm>
#include <cstring>

size_t ISSStreamMem::Read(void* dst, size_t count) {
    const size_t n = std::min<size_t>(count, m_size - m_position);
    if (n > 0)
        std::memcpy(dst, m_data + m_position, n);
    m_position += static_cast<uint32_t>(n);
    return n;
}

void OSSStream::Write(const void* src, size_t count) {
    m_written += static_cast<uint32_t>(count);
    m_file->Write(src, count);
}

void OSSStream::Flush() {
    m_file->Flush();
}

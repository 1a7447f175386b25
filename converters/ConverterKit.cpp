#include "ConverterKit.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace ConvKit {

namespace {

// Trivially destructible, so that the module stays unloadable after a thread used it.
thread_local char lastMessage[200];

template <std::size_t N>
void Copy(char (&field)[N], const char* text) {
    std::snprintf(field, N, "%s", text ? text : "");
}

}  // namespace

void SetMessageV(const char* format, std::va_list args) {
    std::vsnprintf(lastMessage, sizeof lastMessage, format, args);
}

void SetMessage(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    SetMessageV(format, args);
    va_end(args);
}

const char* Message() {
    return lastMessage;
}

void ErrorString(int code, const char* formatName, const char* fileTitle, char* text) {
    if (!text)
        return;
    const char* title = fileTitle ? fileTitle : "";
    if (code == kErrorLibrary && lastMessage[0])
        std::snprintf(text, 260, "%s error in %s: %s", formatName, title, lastMessage);
    else
        std::snprintf(text, 260, "%s converter error %d in %s", formatName, code, title);
}

void DescribeConverter(ConverterRecord* record, std::uint32_t flags, std::uint32_t subformatMask,
                       std::uint16_t writeOptions, const char* name, const char* filter,
                       const char* patterns) {
    record->flags = flags;
    record->subformatMask = subformatMask;
    record->writeOptions = writeOptions;
    Copy(record->name, name);
    Copy(record->filterDescription, filter);
    Copy(record->patterns, patterns);
}

std::vector<std::uint8_t> ReadAll(IOStream* stream) {
    int end = 0;
    stream->Seek(0, 2, &end);
    stream->Seek(0, 0, nullptr);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max(end, 0)));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 << 24));
        const int n = stream->Read(bytes.data() + done, chunk);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

bool ReadAt(IOStream* stream, std::int64_t offset, void* buffer, int count) {
    if (offset < 0 || offset > INT_MAX)
        return false;
    stream->Seek(static_cast<int>(offset), 0, nullptr);
    return stream->Read(buffer, count) == count;
}

bool OutputBuffer::Append(const void* bytes, std::size_t count) noexcept {
    if (failed_)
        return false;
    try {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        bytes_.insert(bytes_.end(), p, p + count);
        return true;
    } catch (...) {
        failed_ = true;
        return false;
    }
}

void WriteAll(IOStream* stream, const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const int chunk = static_cast<int>(std::min<std::size_t>(count - done, 1 << 24));
        stream->Write(bytes + done, chunk);
        done += static_cast<std::size_t>(chunk);
    }
}

void OutputBuffer::FlushTo(IOStream* stream) {
    WriteAll(stream, bytes_.data(), bytes_.size());
    bytes_.clear();
}

bool IsNextBandDownwards(const ConverterContext* context, int nextRow) {
    return context->bandStartRow == nextRow && context->rowOrder != 2 && BandInImage(context);
}

bool BandInImage(const ConverterContext* context) {
    const std::int64_t height = context->height;
    if (context->rowsInBand < 1)
        return false;
    const std::int64_t first = BandRow(context, 0);
    const std::int64_t last = BandRow(context, context->rowsInBand - 1);
    return first >= 0 && first < height && last >= 0 && last < height;
}

Rgb PaletteEntry(const ConverterContext* context, int i) {
    if (!context->palette) {
        const int count = 1 << std::min<int>(context->bitsPerPixel, 8);
        const auto v = static_cast<std::uint8_t>(count > 1 ? i * 255 / (count - 1) : 0);
        return {v, v, v};
    }
    const std::uint8_t* p = context->palette;
    return {p[i], p[256 + i], p[512 + i]};
}

bool IsGreyRamp(const ConverterContext* context, int count) {
    for (int i = 0; i < count; ++i) {
        const Rgb e = PaletteEntry(context, i);
        const int v = count > 1 ? i * 255 / (count - 1) : 0;
        if (e.r != v || e.g != v || e.b != v)
            return false;
    }
    return true;
}

void ResolutionDpi(const ConverterContext* context, double& x, double& y) {
    x = context->xResolution;
    y = context->yResolution;
    switch (context->resolutionUnit) {
        case ImExp::UnitDotsPerInch:
            break;
        case ImExp::UnitDotsPerCentimetre:
            x *= 2.54;
            y *= 2.54;
            break;
        default:
            x = y = 0;
    }
}

}  // namespace ConvKit

#pragma once
// What every converter module of this project shares: the barrier that keeps
// exceptions inside the module, per-operation state keyed by the library's
// context, whole-stream reading, an output buffer that the C codecs fill and
// our own code flushes to the stream, and the error text of the last failure.
//
// The C libraries report failures by longjmp. Their callbacks therefore never
// call the stream (which throws) and never let a C++ exception escape: they
// work on memory only, and the stream is touched from our own frames.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "ConverterInterface.h"
#include "ExceptionBarrier.h"
#include "Formgate.h"
#include "IOStream.h"

namespace ConvKit {

// Version answer of every converter here: interface 0x300, import and export.
constexpr int kVersion = 0x300 | ImExp::VersionImport | ImExp::VersionExport;

// Our own error code: a failure the codec library described in its own words;
// ConvGetErrorString shows that text.
constexpr int kErrorLibrary = ImExp::ErrorCustom;

// Largest image side the library takes; larger headers are damaged or hostile.
constexpr std::uint32_t kSideLimit = 0x7F00000;
// Largest whole image a converter decodes in memory (interlaced or tiled files).
constexpr std::uint64_t kWholeImageLimit = std::uint64_t{1} << 31;

// Runs an entry point's body and turns everything it throws into an error code.
template <class Body>
int Guard(Body&& body) noexcept {
    return formgate::GuardedCall(std::forward<Body>(body));
}

// The text of the last codec failure on this thread (printf-style), shown for
// kErrorLibrary. The library asks for it while the converter is still loaded.
void SetMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetMessageV(const char* format, std::va_list args);
const char* Message();

// Writes the text of an error code of 16 or more into the library's 260 bytes.
void ErrorString(int code, const char* formatName, const char* fileTitle, char* text);

// Fills a converter record from its flags on.
void DescribeConverter(ConverterRecord* record, std::uint32_t flags, std::uint32_t subformatMask,
                       std::uint16_t writeOptions, const char* name, const char* filter,
                       const char* patterns);

// The whole stream from its start (files of 2 GiB or more are out of reach of
// the stream's int positions). Throws what the stream throws.
std::vector<std::uint8_t> ReadAll(IOStream* stream);

// Reads exactly count bytes at offset; false when the file ends first.
bool ReadAt(IOStream* stream, std::int64_t offset, void* buffer, int count);

// Writes count bytes to the stream in chunks its int counts hold; throws what the stream throws.
void WriteAll(IOStream* stream, const std::uint8_t* bytes, std::size_t count);

// Bytes produced by a codec, kept until our own code hands them to the stream.
// Append is called from C callbacks and never throws.
class OutputBuffer {
public:
    bool Append(const void* bytes, std::size_t count) noexcept;
    // Writes what was gathered and empties the buffer; throws what the stream throws.
    void FlushTo(IOStream* stream);
    bool Failed() const { return failed_; }

private:
    std::vector<std::uint8_t> bytes_;
    bool failed_ = false;
};

// Per-operation state of one converter, found by the library's context so that
// two operations through one module on two threads keep apart.
template <class State>
class StateTable {
public:
    State& Create(const ConverterContext* context) {
        auto state = std::make_unique<State>();
        State& result = *state;
        std::lock_guard lock(mutex_);
        states_[context] = std::move(state);
        return result;
    }
    State* Find(const ConverterContext* context) {
        std::lock_guard lock(mutex_);
        auto it = states_.find(context);
        return it == states_.end() ? nullptr : it->second.get();
    }
    void Erase(const ConverterContext* context) {
        std::unique_ptr<State> gone;
        std::lock_guard lock(mutex_);
        auto it = states_.find(context);
        if (it != states_.end()) {
            gone = std::move(it->second);
            states_.erase(it);
        }
    }

private:
    std::mutex mutex_;
    std::map<const ConverterContext*, std::unique_ptr<State>> states_;
};

// Removes the operation's state; the RDCleanUp and WRCleanUp of every converter.
template <class State>
int EraseState(StateTable<State>& table, const ConverterContext* context) noexcept {
    return Guard([&]() -> int {
        table.Erase(context);
        return 0;
    });
}

// Image row i of the current band, counted from the top: rows of a band run
// downwards, or upwards with row order 2.
inline int BandRow(const ConverterContext* context, int i) {
    return context->rowOrder == 2 ? context->bandStartRow - i : context->bandStartRow + i;
}

// The library drives the bands (access mode 1), rowsPerBand rows at a time,
// from the top down (row order 1) or from the bottom up (2).
inline void AskForBands(ConverterContext* context, int rowOrder, int rowsPerBand) {
    context->accessMode = 1;
    context->rowOrder = static_cast<std::uint16_t>(rowOrder);
    context->rowsPerBandWanted = rowsPerBand;
}

// True when the band the library asks for is the next one of a codec that
// works strictly from the top down (nextRow rows done so far).
bool IsNextBandDownwards(const ConverterContext* context, int nextRow);

// True when the band lies inside the image and holds at least one row.
bool BandInImage(const ConverterContext* context);

// Palette entry i of the context's separate planes (red, then green, then blue).
struct Rgb {
    std::uint8_t r, g, b;
};
Rgb PaletteEntry(const ConverterContext* context, int i);

// True when entries 0 .. count-1 of the context's palette are the grey ramp
// i * 255 / (count - 1): a paletted band then is plain grey.
bool IsGreyRamp(const ConverterContext* context, int count);

// The context's resolution in dots per inch (0 when unknown), whatever unit it came in.
void ResolutionDpi(const ConverterContext* context, double& x, double& y);

// WRWriteBand and WREndWriting of a codec that writes strictly from the top
// down into an OutputBuffer, flushed to the stream after each step. Writer has
// nextRow, out and Started() (the codec is set up); writeRows and finish are
// the converter's small functions that hold the codec's setjmp.
template <class Writer>
int WriteBandDownwards(StateTable<Writer>& table, ConverterContext* context, const void* band,
                       int (*writeRows)(Writer*, const std::uint8_t*, int, std::size_t)) noexcept {
    return Guard([&]() -> int {
        Writer* w = table.Find(context);
        if (!w || !w->Started() || !IsNextBandDownwards(context, w->nextRow))
            return ImExp::ErrorGeneral;
        if (int code = writeRows(w, static_cast<const std::uint8_t*>(band), context->rowsInBand,
                                 context->bytesPerPlaneRow))
            return code;
        w->nextRow += context->rowsInBand;
        w->out.FlushTo(context->stream);
        return 0;
    });
}

template <class Writer>
int EndWritingDownwards(StateTable<Writer>& table, ConverterContext* context,
                        int (*finish)(Writer*)) noexcept {
    return Guard([&]() -> int {
        Writer* w = table.Find(context);
        if (!w || !w->Started() || w->nextRow != static_cast<int>(context->height))
            return ImExp::ErrorGeneral;
        if (int code = finish(w))
            return code;
        w->out.FlushTo(context->stream);
        return 0;
    });
}

}  // namespace ConvKit

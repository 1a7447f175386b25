// Damaged input: every prefix and a bit-flip corpus give Error or an image,
// never a crash (run under the asan preset), and a huge declared frame costs
// one MCU strip of memory.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "JpegTestSupport.h"

using namespace JpegTest;

namespace {

std::atomic<bool> g_trackAllocations{false};
std::atomic<size_t> g_largestAllocation{0};

}  // namespace

// Counts the largest single request while a test asks for it; the heap
// underneath stays malloc, which the sanitizers watch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    if (g_trackAllocations.load(std::memory_order_relaxed)) {
        size_t seen = g_largestAllocation.load();
        while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

// Decodes fully; only MiniJpeg::Error may come out.
void DecodeOrError(const Bytes& file) {
    try {
        MiniDecode(file);
    } catch (const MiniJpeg::Error&) {
    }
}

std::vector<Bytes> Samples() {
    std::vector<Bytes> files;
    files.push_back(MiniEncode(MakePhoto(37, 29, 3)));
    files.push_back(MiniEncode(MakePhoto(21, 10, 1), 50, 0, 1));
    PeerEncodeOptions restart;
    restart.restartInterval = 2;
    restart.optimize = true;
    files.push_back(PeerEncode(MakePhoto(45, 17, 3, 9), restart));
    PeerEncodeOptions s411;
    s411.h = 4;
    s411.v = 1;
    files.push_back(PeerEncode(MakePhoto(33, 9, 3, 4), s411));
    return files;
}

}  // namespace

TEST(MiniJpegRobustness, EveryPrefixGivesErrorOrImage) {
    for (const Bytes& file : Samples())
        for (size_t n = 0; n < file.size(); ++n)
            DecodeOrError(Bytes(file.begin(), file.begin() + long(n)));
}

TEST(MiniJpegRobustness, BitFlipCorpus) {
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    int decoded = 0, refused = 0;
    for (const Bytes& file : Samples()) {
        for (int i = 0; i < 2000; ++i) {
            Bytes damaged = file;
            const int flips = 1 + static_cast<int>(next() % 3);
            for (int f = 0; f < flips; ++f) {
                // Half of the flips land in the headers, where the parsers are.
                const size_t limit = (next() & 1) ? std::min<size_t>(damaged.size(), 700) : damaged.size();
                damaged[next() % limit] ^= static_cast<uint8_t>(1u << (next() % 8));
            }
            try {
                MiniDecode(damaged);
                ++decoded;
            } catch (const MiniJpeg::Error&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
}

// A frame declared 65535 x 65535 with no data behind it: the decoder keeps one
// MCU strip (16 rows of 4:2:0) and its coefficients, not the picture.
TEST(MiniJpegRobustness, HugeDeclaredFrameCostsOneStrip) {
    Bytes file = MiniEncode(MakePhoto(16, 16, 3));
    for (const Segment& s : Segments(file))
        if (s.marker == 0xC0) {
            file[s.offset + 5] = file[s.offset + 6] = file[s.offset + 7] = file[s.offset + 8] = 0xFF;
        }
    MemIStream in(file);
    g_largestAllocation = 0;
    g_trackAllocations = true;
    int32_t w = 0, h = 0;
    MiniJpeg::Decoder* dec = MiniJpeg::CreateDecoder(&in, &w, &h, nullptr, nullptr, nullptr, nullptr);
    EXPECT_THROW(for (int y = 0; y < h; ++y) dec->ReadLine(), MiniJpeg::Error);
    MiniJpeg::DeleteDecoder(dec);
    g_trackAllocations = false;
    EXPECT_EQ(w, 65535);
    EXPECT_EQ(h, 65535);
    // Strip: 16 rows x 65536 x 3 bytes; coefficients: 4096 MCUs x 6 blocks x 128 bytes.
    EXPECT_LE(g_largestAllocation.load(), size_t{16} * 65536 * 3 + 1);
    EXPECT_GT(g_largestAllocation.load(), size_t{1} << 20);
}

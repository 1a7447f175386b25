// MiniJpeg against libjpeg-turbo on a 12-megapixel photo-like image, q90 4:2:0,
// encode and decode in the same process; prints the time ratios at the end.
// Run once as is and once with JSIMD_FORCENONE=1 for libjpeg-turbo without SIMD.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "MiniJpeg.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kQuality = 90;

using Bytes = std::vector<uint8_t>;

const Bytes& Photo() {
    static const Bytes pixels = [] {
        Bytes p(static_cast<size_t>(kWidth) * kHeight * 3);
        uint32_t state = 7;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                state = state * 1664525u + 1013904223u;
                const int noise = static_cast<int>((state >> 24) % 13) - 6;
                const bool disc = (x - 1300) * (x - 1300) + (y - 1400) * (y - 1400) < 600 * 600;
                for (int c = 0; c < 3; ++c) {
                    double v = 50 +
                               140.0 *
                                   (c == 0   ? x
                                    : c == 1 ? y
                                             : (x + y) / 2) /
                                   kWidth +
                               30 * std::sin(0.013 * (x + 1.7 * y + 40 * c)) * std::cos(0.007 * (y - x));
                    if (disc)
                        v = 0.6 * v + (c == 0 ? 90 : 30);
                    if ((x / 97 + y / 61) % 7 == 0)
                        v = 255 - v;
                    const int iv = static_cast<int>(v) + noise;
                    p[(static_cast<size_t>(y) * kWidth + x) * 3 + c] = static_cast<uint8_t>(iv < 0     ? 0
                                                                                            : iv > 255 ? 255
                                                                                                       : iv);
                }
            }
        return p;
    }();
    return pixels;
}

class VecOStream : public MiniJpeg::OStream {
public:
    void Write(const void* src, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(src);
        data.insert(data.end(), p, p + count);
    }
    void Flush() override {}
    Bytes data;
};

class VecIStream : public MiniJpeg::IStream {
public:
    explicit VecIStream(const Bytes& b) : m_b(b) {}
    size_t Read(void* dst, size_t n) override {
        n = std::min(n, m_b.size() - m_pos);
        std::memcpy(dst, m_b.data() + m_pos, n);
        m_pos += n;
        return n;
    }

private:
    const Bytes& m_b;
    size_t m_pos = 0;
};

Bytes MiniEncode() {
    VecOStream out;
    out.data.reserve(8 << 20);
    MiniJpeg::Coder* coder = MiniJpeg::CreateCoder(&out, kWidth, kHeight, 1, kQuality, 0, 0, 2, 300, 300);
    const Bytes& p = Photo();
    for (int y = 0; y < kHeight; ++y)
        coder->WriteLine(p.data() + static_cast<size_t>(y) * kWidth * 3);
    MiniJpeg::DeleteDecoder(coder);
    return std::move(out.data);
}

Bytes TurboEncode() {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const Bytes& p = Photo();
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(p.data() + static_cast<size_t>(cinfo.next_scanline) * kWidth * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

const Bytes& TestFile() {
    static const Bytes file = TurboEncode();
    return file;
}

void BM_MiniJpegEncode(benchmark::State& state) {
    Photo();
    for (auto _ : state)
        benchmark::DoNotOptimize(MiniEncode());
}

void BM_TurboEncode(benchmark::State& state) {
    Photo();
    for (auto _ : state)
        benchmark::DoNotOptimize(TurboEncode());
}

void BM_MiniJpegDecode(benchmark::State& state) {
    const Bytes& file = TestFile();
    for (auto _ : state) {
        VecIStream in(file);
        int32_t w, h;
        MiniJpeg::Decoder* dec = MiniJpeg::CreateDecoder(&in, &w, &h, nullptr, nullptr, nullptr, nullptr);
        for (int y = 0; y < h; ++y)
            benchmark::DoNotOptimize(dec->ReadLine());
        MiniJpeg::DeleteDecoder(dec);
    }
}

void BM_TurboDecode(benchmark::State& state) {
    const Bytes& file = TestFile();
    Bytes row(static_cast<size_t>(kWidth) * 3);
    for (auto _ : state) {
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW r = row.data();
            jpeg_read_scanlines(&cinfo, &r, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(row.data());
    }
}

// Repetitions, because the ratios use the fastest run of each: a busy
// machine only ever adds time.
BENCHMARK(BM_MiniJpegEncode)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(7);
BENCHMARK(BM_TurboEncode)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(7);
BENCHMARK(BM_MiniJpegDecode)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(7);
BENCHMARK(BM_TurboDecode)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(7);

// Keeps the fastest real time per iteration of each benchmark for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration)
                continue;
            const std::string name = r.benchmark_name();
            const std::string key = name.substr(0, name.find('/'));
            const double t = r.GetAdjustedRealTime();
            const auto it = times.find(key);
            if (it == times.end() || t < it->second)
                times[key] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* simd = std::getenv("JSIMD_FORCENONE");
    const char* mode = simd && std::strcmp(simd, "1") == 0 ? "without SIMD" : "with SIMD";
    auto ratio = [&](const char* ours, const char* theirs) {
        const auto a = reporter.times.find(ours);
        const auto b = reporter.times.find(theirs);
        return a != reporter.times.end() && b != reporter.times.end() && b->second > 0 ? a->second / b->second
                                                                                       : 0.0;
    };
    for (const auto& [name, t] : reporter.times)
        std::printf("fastest %s: %.1f ms\n", name.c_str(), t);
    std::printf("12 MP q90 4:2:0, MiniJpeg time / libjpeg-turbo time (%s): encode %.2f, decode %.2f\n", mode,
                ratio("BM_MiniJpegEncode", "BM_TurboEncode"), ratio("BM_MiniJpegDecode", "BM_TurboDecode"));
    benchmark::Shutdown();
    return 0;
}

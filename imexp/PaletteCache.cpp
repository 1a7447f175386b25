#include "PaletteCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "FileReading.h"
#include "Formgate.h"

namespace formgate {

namespace {

constexpr char kClassName[] = "CPaletteItem";
constexpr std::uint16_t kSchema = 1;
constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint16_t kClassTag = 0x8000;
constexpr std::uint16_t kClassIndex = 1;  // the archive's first registered entry
// Far beyond any cache of browsed folders; a larger file is not ours.
constexpr std::uint64_t kMaxCacheFileBytes = std::uint64_t(256) << 20;

class Writer {
public:
    void U8(std::uint8_t v) { out.push_back(v); }
    void U16(std::uint16_t v) { U8(v & 0xFF), U8(v >> 8); }
    void U32(std::uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
    void Bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        out.insert(out.end(), p, p + size);
    }
    void Count(std::size_t n) {
        if (n < 0xFFFF) {
            U16(static_cast<std::uint16_t>(n));
        } else {
            U16(0xFFFF);
            U32(static_cast<std::uint32_t>(n));
        }
    }
    void String(const std::string& s) {
        if (s.size() < 0xFF) {
            U8(static_cast<std::uint8_t>(s.size()));
        } else if (s.size() < 0xFFFE) {
            U8(0xFF);
            U16(static_cast<std::uint16_t>(s.size()));
        } else {
            U8(0xFF);
            U16(0xFFFF);
            U32(static_cast<std::uint32_t>(s.size()));
        }
        Bytes(s.data(), s.size());
    }
    std::vector<std::uint8_t> out;
};

// Every read checks what is left; a short read sets failed and gives zeros.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool failed = false;
    std::size_t Left() const { return size_ - at_; }
    bool Take(void* out, std::size_t n) {
        if (failed || n > Left()) {
            failed = true;
            std::memset(out, 0, n);
            return false;
        }
        std::memcpy(out, data_ + at_, n);
        at_ += n;
        return true;
    }
    std::uint8_t U8() {
        std::uint8_t v[1];
        Take(v, 1);
        return v[0];
    }
    std::uint16_t U16() {
        std::uint8_t v[2];
        Take(v, 2);
        return static_cast<std::uint16_t>(v[0] | v[1] << 8);
    }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | static_cast<std::uint32_t>(U16()) << 16;
    }
    std::size_t Count() {
        const std::uint16_t small = U16();
        return small != 0xFFFF ? small : U32();
    }
    std::string String() {
        std::size_t length = U8();
        if (length == 0xFF) {
            length = U16();
            if (length == 0xFFFE) {  // wide strings: not ours
                failed = true;
                return {};
            }
            if (length == 0xFFFF)
                length = U32();
        }
        if (failed || length > Left()) {
            failed = true;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return s;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool ReadItem(Reader& in, CPaletteItem& item) {
    item.timeLow = in.U32();
    item.timeHigh = in.U32();
    item.width = static_cast<std::int32_t>(in.U32());
    item.height = static_cast<std::int32_t>(in.U32());
    if (in.failed)
        return false;
    if (item.width == 0 || item.height == 0)
        return true;
    // Only thumbnails this code makes: anything larger is damage, never an allocation.
    if (item.width < 1 || item.width > CPaletteItem::kThumbWidth || item.height < 1 ||
        item.height > CPaletteItem::kThumbHeight)
        return false;
    const std::size_t size = CPaletteItem::DibSize(item.width, item.height);
    if (size > in.Left())
        return false;
    item.dib.resize(size);
    in.Take(item.dib.data(), size);
    // The header must describe the same thumbnail.
    std::int32_t w = 0, h = 0;
    std::memcpy(&w, item.dib.data() + 4, 4);
    std::memcpy(&h, item.dib.data() + 8, 4);
    return !in.failed && w == item.width && h == item.height;
}

// A packed 24-bit DIB of width x height, zeroed.
std::vector<std::uint8_t> NewDib(int width, int height) {
    std::vector<std::uint8_t> dib(CPaletteItem::DibSize(width, height), 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(dib.data() + at, &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(dib.data() + at, &v, 2); };
    put32(0, 40);
    put32(4, static_cast<std::uint32_t>(width));
    put32(8, static_cast<std::uint32_t>(height));
    put16(12, 1);
    put16(14, 24);
    put32(16, 0);
    put32(20, static_cast<std::uint32_t>(dib.size() - 40));
    put32(24, 2835);
    put32(28, 2835);
    return dib;
}

// The library's own sink: the image as a bottom-up 24-bit buffer.
class PaletteSink : public CAbstractReadWA {
public:
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int SetSize(int, int, int w, int h) override {
        if (w <= 0 || h <= 0)
            return 1;
        const std::uint64_t bytes =
            static_cast<std::uint64_t>(CPaletteItem::Stride(w)) * static_cast<std::uint64_t>(h);
        if (bytes > (std::uint64_t(1) << 31))
            return 1;
        width = w, height = h;
        pixels.assign(static_cast<std::size_t>(bytes), 0);
        return 0;
    }
    int SetFormat(int, int, int type) override { return type == ImExp::PixelRgb24 ? 0 : 1; }
    int SetPalette(int, int, const unsigned char*, int) override { return 0; }
    int SetResolution(int, int, int, int) override { return 0; }
    int PutRow(int, int, int row, const void* data) override {
        if (row < 0 || row >= height)
            return 1;
        std::memcpy(pixels.data() + static_cast<std::size_t>(row) * CPaletteItem::Stride(width), data,
                    static_cast<std::size_t>(width) * 3);
        return 0;
    }
    int PutAlphaRow(int, int, int, const void*) override { return 0; }
    int SetAlphaChannel(int, int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }

    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
};

}  // namespace

void ThumbnailSize(int width, int height, int& thumbWidth, int& thumbHeight) {
    const std::int64_t w = std::max(width, 1), h = std::max(height, 1);
    if (h * CPaletteItem::kThumbWidth < w * CPaletteItem::kThumbHeight) {
        thumbWidth = CPaletteItem::kThumbWidth;
        thumbHeight = static_cast<int>(CPaletteItem::kThumbWidth * h / w);
    } else {
        thumbHeight = CPaletteItem::kThumbHeight;
        thumbWidth = static_cast<int>(CPaletteItem::kThumbHeight * w / h);
    }
    thumbWidth = std::max(thumbWidth, 1);
    thumbHeight = std::max(thumbHeight, 1);
}

std::vector<std::uint8_t> SaveCache(const PaletteCache& cache) {
    Writer out;
    out.Count(cache.size());
    bool classWritten = false;
    for (const auto& [path, item] : cache) {
        out.String(path);
        if (!classWritten) {
            out.U16(kNewClassTag);
            out.U16(kSchema);
            out.U16(static_cast<std::uint16_t>(sizeof kClassName - 1));
            out.Bytes(kClassName, sizeof kClassName - 1);
            classWritten = true;
        } else {
            out.U16(kClassTag | kClassIndex);
        }
        out.U32(item.timeLow);
        out.U32(item.timeHigh);
        const bool withDib = item.HasDib() && item.width > 0 && item.height > 0;
        out.U32(static_cast<std::uint32_t>(withDib ? item.width : 0));
        out.U32(static_cast<std::uint32_t>(withDib ? item.height : 0));
        if (withDib)
            out.Bytes(item.dib.data(), item.dib.size());
    }
    return std::move(out.out);
}

bool LoadCache(const std::uint8_t* data, std::size_t size, PaletteCache& cache) {
    cache.clear();
    Reader in(data, size);
    const std::size_t count = in.Count();
    bool classKnown = false;
    for (std::size_t i = 0; i < count && !in.failed; ++i) {
        std::string path = in.String();
        const std::uint16_t tag = in.U16();
        if (tag == kNewClassTag && !classKnown) {
            const std::uint16_t schema = in.U16();
            const std::uint16_t length = in.U16();
            const std::string name = length == sizeof kClassName - 1 ? [&] {
                std::string s(length, '\0');
                in.Take(s.data(), length);
                return s;
            }()
                                                                     : std::string();
            if (schema != kSchema || name != kClassName)
                in.failed = true;
            classKnown = true;
        } else if (!(classKnown && tag == (kClassTag | kClassIndex))) {
            in.failed = true;
        }
        CPaletteItem item;
        if (in.failed || !ReadItem(in, item)) {
            in.failed = true;
            break;
        }
        cache.emplace(std::move(path), std::move(item));
    }
    if (in.failed || in.Left() != 0) {
        cache.clear();
        return false;
    }
    return true;
}

std::string PaletteCachePath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0])
        base = std::string(home) + "/.cache";
    else
        return {};
    return base + "/ORVEX Horizel/QXBRWS.TMP";
}

bool LoadCacheFile(const std::string& path, PaletteCache& cache) {
    cache.clear();
    // The file is in our own cache folder: a link planted there is not followed.
    std::vector<std::uint8_t> data;
    if (Platform::ReadWholeFile(path, kMaxCacheFileBytes, data, Platform::FinalLink::Refuse) != 0)
        return false;
    return LoadCache(data.data(), data.size(), cache);
}

bool SaveCacheFile(const std::string& path, const PaletteCache& cache) {
    if (path.empty())
        return false;
    const std::vector<std::uint8_t> data = SaveCache(cache);
    std::error_code ec;
    const std::filesystem::path target(path);
    std::filesystem::create_directories(target.parent_path(), ec);
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == data.size() && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    // rename replaces a link planted at the target, never follows it.
    if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool FileTime(const std::string& path, std::uint32_t& low, std::uint32_t& high) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(info.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
        static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100;
    low = static_cast<std::uint32_t>(ticks);
    high = static_cast<std::uint32_t>(ticks >> 32);
    return true;
}

CPaletteItem MakePaletteItem(const std::string& path) {
    CPaletteItem item;
    PaletteSink sink;
    if (!ImExp_ReadFile(&sink, nullptr, path.c_str(), ImExp::PixelRgb24, nullptr, nullptr, 0) ||
        sink.width <= 0)
        return item;
    int tw = 0, th = 0;
    ThumbnailSize(sink.width, sink.height, tw, th);
    item.width = tw;
    item.height = th;
    item.dib = NewDib(tw, th);
    const std::size_t sourceStride = CPaletteItem::Stride(sink.width), stride = CPaletteItem::Stride(tw);
    for (int i = 0; i < th; ++i) {
        const std::int64_t sourceRow = static_cast<std::int64_t>(i) * sink.height / th;
        const std::uint8_t* from = sink.pixels.data() + static_cast<std::size_t>(sourceRow) * sourceStride;
        std::uint8_t* to = item.dib.data() + 40 + static_cast<std::size_t>(i) * stride;
        for (int j = 0; j < tw; ++j) {
            const std::int64_t sourceColumn = static_cast<std::int64_t>(j) * sink.width / tw;
            std::memcpy(to + 3 * j, from + 3 * sourceColumn, 3);
        }
    }
    return item;
}

}  // namespace formgate

#include "StringTable.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "FileReading.h"

namespace {

using Texts = std::map<unsigned, std::string>;

// The loaded pack. Texts handed out stay valid to the end of the process:
// a pack replaced or unloaded is kept, never freed, while threads may hold
// its texts.
std::atomic<const Texts*> g_pack{nullptr};
std::mutex g_packsLock;
std::vector<std::unique_ptr<Texts>> g_packs;

constexpr char kMagic[] = "OVHRES1\n";
constexpr size_t kMaxEntries = 0x10000;
// Far above the string table's size, far below what would hurt.
constexpr std::uint64_t kMaxPackBytes = 64u << 20;

uint32_t Word(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

// The printf conversions a text holds, in order ("%%" is none): texts are
// used as formats, so a pack text may only take the place of a built-in one
// with the same conversions.
std::string Conversions(const std::string& text) {
    std::string found;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        size_t j = i + 1;
        while (j < text.size() &&
               std::string_view("-+ #0123456789.*hlLqjzt").find(text[j]) != std::string_view::npos)
            ++j;
        if (j < text.size() && text[j] == '%' && j == i + 1) {
            i = j;
            continue;
        }
        found += text.substr(i, j < text.size() ? j - i + 1 : j - i);
        found += '\n';
        i = j;
    }
    return found;
}

const char* BuiltIn(unsigned id) {
    const Res::StringEntry* end = Res::kStringTable + Res::kStringCount;
    const Res::StringEntry* it = std::lower_bound(
        Res::kStringTable, end, id, [](const Res::StringEntry& e, unsigned v) { return e.id < v; });
    return it != end && it->id == id ? it->text : nullptr;
}

}  // namespace

const char* Res::LoadStr(unsigned id) {
    if (const Texts* pack = g_pack.load(std::memory_order_acquire)) {
        const auto it = pack->find(id);
        if (it != pack->end())
            return it->second.c_str();
    }
    const char* text = BuiltIn(id);
    return text ? text : "";
}

bool Res::ParsePack(const std::string& bytes, std::map<unsigned, std::string>& texts) {
    const size_t magic = sizeof kMagic - 1;
    if (bytes.size() < magic + 4 || bytes.compare(0, magic, kMagic) != 0)
        return false;
    size_t at = magic;
    const uint32_t count = Word(bytes, at);
    at += 4;
    if (count > kMaxEntries)
        return false;
    Texts parsed;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes.size() - at < 8)
            return false;
        const uint32_t id = Word(bytes, at);
        const uint32_t length = Word(bytes, at + 4);
        at += 8;
        if (length > bytes.size() - at)
            return false;
        parsed[id] = bytes.substr(at, length);
        at += length;
    }
    if (at != bytes.size())
        return false;
    texts = std::move(parsed);
    return true;
}

bool Res::LoadPack(const std::string& path) {
    // A regular file only, and no larger than a pack can be: a FIFO or a
    // device named here would stall or flood the start-up.
    std::string content;
    if (Platform::ReadWholeFile(path, kMaxPackBytes, content) != 0)
        return false;
    auto texts = std::make_unique<Texts>();
    if (!ParsePack(content, *texts))
        return false;
    // A text whose conversions differ from the built-in one's would be read
    // as a format with arguments it was not given: the built-in text stays.
    for (auto it = texts->begin(); it != texts->end();) {
        const char* builtIn = BuiltIn(it->first);
        if (Conversions(it->second) != Conversions(builtIn ? builtIn : ""))
            it = texts->erase(it);
        else
            ++it;
    }
    std::lock_guard<std::mutex> lock(g_packsLock);
    g_pack.store(texts.get(), std::memory_order_release);
    g_packs.push_back(std::move(texts));
    return true;
}

void Res::UnloadPack() {
    g_pack.store(nullptr, std::memory_order_release);
}

bool Res::PackLoaded() {
    return g_pack.load(std::memory_order_acquire) != nullptr;
}

#include "StringTable.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

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

uint32_t Word(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

}  // namespace

const char* Res::LoadStr(unsigned id) {
    if (const Texts* pack = g_pack.load(std::memory_order_acquire)) {
        const auto it = pack->find(id);
        if (it != pack->end())
            return it->second.c_str();
    }
    const StringEntry* end = kStringTable + kStringCount;
    const StringEntry* it =
        std::lower_bound(kStringTable, end, id, [](const StringEntry& e, unsigned v) { return e.id < v; });
    return it != end && it->id == id ? it->text : "";
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
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream content;
    content << in.rdbuf();
    auto texts = std::make_unique<Texts>();
    if (!ParsePack(content.str(), *texts))
        return false;
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

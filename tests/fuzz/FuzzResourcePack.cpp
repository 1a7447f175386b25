// The interface resource pack ("InterfaceRes<N>.pack"), loaded as at start-up,
// and its texts looked up. A pack the parser takes is loaded from its file.
#include <map>

#include "FuzzTarget.h"
#include "StringTable.h"

namespace {

// The loader keeps every pack it loaded for the life of the process (texts
// handed out stay valid), so past this much the target only parses.
constexpr std::size_t kMaxLoadedBytes = std::size_t(256) << 20;
std::size_t g_loadedBytes = 0;

void PutWord(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((v >> shift) & 0xFF);
}

std::string Pack(const std::map<unsigned, std::string>& texts) {
    std::string out = "OVHRES1\n";
    PutWord(out, static_cast<std::uint32_t>(texts.size()));
    for (const auto& [id, text] : texts) {
        PutWord(out, id);
        PutWord(out, static_cast<std::uint32_t>(text.size()));
        out += text;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::map<unsigned, std::string> texts;
    if (!Res::ParsePack(std::string(reinterpret_cast<const char*>(data), size), texts) ||
        g_loadedBytes > kMaxLoadedBytes)
        return 0;
    g_loadedBytes += size;
    Fuzz::Expect(Res::LoadPack(Fuzz::InputFile(data, size, ".pack")));
    for (const auto& [id, text] : texts)
        (void)Res::LoadStr(id);
    Res::UnloadPack();
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    return {{"french.pack", Fuzz::Bytes(Pack({{128, "ORVEX Horizel 2\n\nHorizel"},
                                              {138, "%.2f Ko"},
                                              {140, "%s Mo"},
                                              {0xFB02, "Un fichier nommé « %1 » existe déjà."},
                                              {99999, ""}}))},
            {"empty.pack", Fuzz::Bytes(Pack({}))}};
}

// The settings-file reader and its rewrite (profile, "CONVERT.INI", skin).
#include "FuzzTarget.h"
#include "IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Platform::IniFile ini(Fuzz::InputFile(data, size, ".ini"));
    for (const std::string& section : ini.SectionNames())
        for (const auto& [key, value] : ini.Section(section))
            (void)ini.GetInt(section, key, 0);
    ini.WriteString("MAIN", "Key", "value");
    ini.DeleteKey("MAIN", "Other");
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    const std::string path = Fuzz::InputFile(nullptr, 0, ".ini");
    Platform::IniFile ini(path);
    ini.WriteString("MAIN", "XBUTTON", "close.bmp");
    ini.WriteInt("GENERAL", "NOTFIRSTLAUNCH", -2147483647);
    ini.ReplaceSection("Converters", {{"0", "bmp.so"}, {"1", "jpeg.so"}});
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<std::uint8_t> bytes(4096);
    bytes.resize(f ? std::fread(bytes.data(), 1, bytes.size(), f) : 0);
    if (f)
        std::fclose(f);
    return {{"written.ini", bytes}, {"mixed.ini", Fuzz::Bytes("\xEF\xBB\xBF[A]\r\nx = 1\n;c\n[B]\r\nz=3")}};
}

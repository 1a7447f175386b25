#include "CDevMode.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "Archive.h"
#include "FileReading.h"
#include "ImageFile.h"

namespace PrintSetup {

namespace {

constexpr const char* kClassName = "CDevMode";
constexpr std::uint16_t kSchema = 1;
constexpr std::uint16_t kSpecVersion = 0x0401;

}  // namespace

CDevMode CDevMode::Make(const std::string& deviceName, std::uint16_t driverVersion) {
    CDevMode mode(kRecordSize);
    std::memcpy(mode.bytes_.data(), deviceName.data(), std::min(deviceName.size(), kDeviceNameBytes - 1));
    mode.SetWord(32, kSpecVersion);
    mode.SetWord(34, driverVersion);
    mode.SetWord(36, static_cast<std::uint16_t>(kRecordSize));
    mode.SetWord(38, 0);
    mode.SetOrientation(kPortrait);
    mode.SetCopies(1);
    mode.SetColor(kColor);
    mode.SetDuplex(1);
    return mode;
}

bool CDevMode::Assign(const CDevMode& other) {
    if (&other == this)
        return true;
    bytes_ = other.bytes_;
    return true;
}

std::string CDevMode::DeviceName() const {
    const std::size_t n = std::min(bytes_.size(), kDeviceNameBytes);
    const auto* begin = reinterpret_cast<const char*>(bytes_.data());
    return std::string(begin, std::find(begin, begin + n, '\0'));
}

std::uint16_t CDevMode::Word(std::size_t at) const {
    if (at + 2 > bytes_.size())
        return 0;
    return static_cast<std::uint16_t>(bytes_[at] | (bytes_[at + 1] << 8));
}

void CDevMode::SetWord(std::size_t at, std::uint16_t v) {
    if (at + 2 > bytes_.size())
        bytes_.resize(std::max<std::size_t>(at + 2, kRecordSize), 0);
    bytes_[at] = static_cast<std::uint8_t>(v & 0xFF);
    bytes_[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

namespace PrinterSettingsFile {

std::vector<std::uint8_t> Write(const DevModeMap& map) {
    Archive::Writer out;
    out.WriteCount(static_cast<std::uint32_t>(map.size()));
    for (const auto& [name, mode] : map) {
        out.WriteString(name);
        out.WriteObjectTag(kClassName, kSchema);
        const std::vector<std::uint8_t>& bytes = mode ? mode->Bytes() : std::vector<std::uint8_t>{};
        out.WriteDword(static_cast<std::uint32_t>(bytes.size()));
        for (std::uint8_t b : bytes)
            out.WriteByte(b);
    }
    return out.Bytes();
}

bool Read(const std::vector<std::uint8_t>& bytes, DevModeMap& map) {
    Archive::Reader in(bytes);
    try {
        // An entry holds at least a name length, an object tag and a size.
        const std::uint32_t count = in.ReadCount(1 + 2 + 4);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::string name = in.ReadString();
            if (name.size() > kMaxNameBytes)
                return false;
            if (!in.ReadObjectTag(kClassName))
                return false;
            const std::uint32_t size = in.ReadDword();
            if (size > kMaxDevModeBytes || size > in.Remaining())
                return false;
            std::vector<std::uint8_t> body(size);
            for (std::uint8_t& b : body)
                b = in.ReadByte();
            map[std::move(name)] = std::make_unique<CDevMode>(std::move(body));
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool Load(const std::string& path, DevModeMap& map) {
    std::vector<std::uint8_t> bytes;
    if (Platform::ReadWholeFile(path, kMaxFileBytes, bytes) != 0)
        return false;
    return Read(bytes, map);
}

bool Save(const std::string& path, const DevModeMap& map) {
    const std::vector<std::uint8_t> bytes = Write(map);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    Platform::FileReplacement file;
    if (file.Begin(path) != 0)
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.Descriptor(), bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return file.Commit() == 0;
}

}  // namespace PrinterSettingsFile

}  // namespace PrintSetup

#pragma once
// A printer's stored device settings, and the printer settings file that keeps
// one of them per printer between runs. The settings are our own record
// (device name, versions and sizes in the places a driver checks them, then
// orientation, paper, copies, resolution, colour and duplex); the file is the
// framework's archive of a printer-name map. Reading checks every length and
// keeps only what was read whole.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace PrintSetup {

class CDevMode {
public:
    // The fixed record; a stored one may carry more bytes behind it.
    static constexpr std::uint32_t kRecordSize = 64;
    static constexpr std::size_t kDeviceNameBytes = 32;
    // Everything a driver needs to tell whether a stored record is its own:
    // the device name and the four version and size words behind it.
    static constexpr std::size_t kIdentityBytes = kDeviceNameBytes + 8;

    enum Orientation : std::int16_t { kPortrait = 1, kLandscape = 2 };
    enum ColorMode : std::int16_t { kMonochrome = 1, kColor = 2 };

    CDevMode() = default;
    explicit CDevMode(std::uint32_t size) : bytes_(size, 0) {}
    explicit CDevMode(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    // A fresh record for a device.
    static CDevMode Make(const std::string& deviceName, std::uint16_t driverVersion);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    bool IsEmpty() const { return bytes_.empty(); }
    // Copies other's bytes unless they are these very bytes.
    bool Assign(const CDevMode& other);

    // The record's fields; 0 (or "") where the buffer is too short for one.
    std::string DeviceName() const;
    std::uint16_t DriverVersion() const { return Word(34); }
    std::int16_t Orientation() const { return Short(44); }
    std::int16_t PaperSize() const { return Short(46); }
    std::int16_t PaperLength() const { return Short(48); }  // tenths of a millimetre
    std::int16_t PaperWidth() const { return Short(50); }
    std::int16_t Copies() const { return Short(54); }
    std::int16_t PrintQuality() const { return Short(58); }  // dots per inch
    std::int16_t Color() const { return Short(60); }
    std::int16_t Duplex() const { return Short(62); }
    void SetOrientation(std::int16_t v) { SetShort(44, v); }
    void SetPaperSize(std::int16_t v) { SetShort(46, v); }
    void SetPaperLength(std::int16_t v) { SetShort(48, v); }
    void SetPaperWidth(std::int16_t v) { SetShort(50, v); }
    void SetCopies(std::int16_t v) { SetShort(54, v); }
    void SetPrintQuality(std::int16_t v) { SetShort(58, v); }
    void SetColor(std::int16_t v) { SetShort(60, v); }
    void SetDuplex(std::int16_t v) { SetShort(62, v); }

    bool operator==(const CDevMode&) const = default;

private:
    std::uint16_t Word(std::size_t at) const;
    std::int16_t Short(std::size_t at) const { return static_cast<std::int16_t>(Word(at)); }
    void SetWord(std::size_t at, std::uint16_t v);
    void SetShort(std::size_t at, std::int16_t v) { SetWord(at, static_cast<std::uint16_t>(v)); }

    std::vector<std::uint8_t> bytes_;
};

using DevModeMap = std::map<std::string, std::unique_ptr<CDevMode>>;

namespace PrinterSettingsFile {

// Stored names and records beyond these sizes are not a printer's.
inline constexpr std::size_t kMaxNameBytes = 1024;
inline constexpr std::uint32_t kMaxDevModeBytes = 64 * 1024;
inline constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

std::vector<std::uint8_t> Write(const DevModeMap& map);
// Reads into map; an entry that is damaged, oversized or of another class
// ends the reading, and the entries before it stay. False when it ended so.
bool Read(const std::vector<std::uint8_t>& bytes, DevModeMap& map);

// The file itself: a missing, unreadable or non-regular file reads nothing.
bool Load(const std::string& path, DevModeMap& map);
// Written through a replacement file; false when it could not be.
bool Save(const std::string& path, const DevModeMap& map);

}  // namespace PrinterSettingsFile

}  // namespace PrintSetup

#include "CExifTagReader.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t Word(const uint8_t* p, int bigEndian) {
    return bigEndian ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>((p[1] << 8) | p[0]);
}

uint32_t Dword(const uint8_t* p, int bigEndian) {
    const uint32_t w1 = Word(p, bigEndian), w2 = Word(p + 2, bigEndian);
    return bigEndian ? (w1 << 16) | w2 : (w2 << 16) | w1;
}

bool IsOneShort(const ExifEntry& e) {
    return e.type == ExifTypes::Short && e.count == 1;
}

}  // namespace

bool CExifTagReader::ReadData(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                              uint64_t size, std::vector<uint8_t>& out) {
    if (size > kMaxValueBytes)
        return false;
    if (size <= 4) {
        out.assign(entry.raw, entry.raw + size);
        return true;
    }
    if (!bounds.Holds(entry.value, size))
        return false;
    out.resize(static_cast<size_t>(size));
    const uint64_t back = file.GetPosition();
    file.Seek(static_cast<int64_t>(bounds.base + entry.value), CFile::begin);
    const bool ok = file.Read(out.data(), out.size()) == out.size();
    file.Seek(static_cast<int64_t>(back), CFile::begin);
    return ok;
}

bool CExifTagReader::ReadAscii(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                               std::string& out) {
    std::vector<uint8_t> data;
    if (entry.type != ExifTypes::Ascii || !ReadData(file, entry, bounds, entry.count, data))
        return false;
    const auto zero = std::find(data.begin(), data.end(), 0);
    out.assign(data.begin(), zero);
    return true;
}

bool CExifTagReader::ReadBytes(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                               std::vector<uint8_t>& out) {
    if (entry.type != ExifTypes::Byte && entry.type != ExifTypes::Undefined)
        return false;
    return ReadData(file, entry, bounds, entry.count, out);
}

bool CExifTagReader::ReadShorts(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                std::vector<uint16_t>& out) {
    std::vector<uint8_t> data;
    if (entry.type != ExifTypes::Short || !ReadData(file, entry, bounds, 2ull * entry.count, data))
        return false;
    out.resize(entry.count);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = Word(&data[2 * i], file.m_bigEndian);
    return true;
}

bool CExifTagReader::ReadSignedShorts(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                      std::vector<int16_t>& out) {
    std::vector<uint8_t> data;
    if (entry.type != ExifTypes::SShort || !ReadData(file, entry, bounds, 2ull * entry.count, data))
        return false;
    out.resize(entry.count);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(Word(&data[2 * i], file.m_bigEndian));
    return true;
}

bool CExifTagReader::ReadLongs(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                               std::vector<uint32_t>& out) {
    std::vector<uint8_t> data;
    if (entry.type != ExifTypes::Long || !ReadData(file, entry, bounds, 4ull * entry.count, data))
        return false;
    out.resize(entry.count);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = Dword(&data[4 * i], file.m_bigEndian);
    return true;
}

bool CExifTagReader::ReadSignedLongs(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                     std::vector<int32_t>& out) {
    std::vector<uint8_t> data;
    if (entry.type != ExifTypes::SLong || !ReadData(file, entry, bounds, 4ull * entry.count, data))
        return false;
    out.resize(entry.count);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int32_t>(Dword(&data[4 * i], file.m_bigEndian));
    return true;
}

bool CExifTagReader::ReadRationals(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                   std::vector<Rational>& out) {
    std::vector<uint8_t> data;
    // Rationals always lie at an offset.
    if (entry.type != ExifTypes::Rational || entry.count == 0 ||
        !ReadData(file, entry, bounds, 8ull * entry.count, data))
        return false;
    out.resize(entry.count);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = {Dword(&data[8 * i], file.m_bigEndian), Dword(&data[8 * i + 4], file.m_bigEndian)};
        if (out[i].second == 0)
            out[i] = {0, 1};
    }
    return true;
}

bool CExifTagReader::ReadSignedRationals(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                         std::vector<SignedRational>& out) {
    std::vector<uint8_t> data;
    if (entry.type != ExifTypes::SRational || entry.count == 0 ||
        !ReadData(file, entry, bounds, 8ull * entry.count, data))
        return false;
    out.resize(entry.count);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = {static_cast<int32_t>(Dword(&data[8 * i], file.m_bigEndian)),
                  static_cast<int32_t>(Dword(&data[8 * i + 4], file.m_bigEndian))};
        if (out[i].second == 0)
            out[i] = {0, 1};
    }
    return true;
}

std::string CExifTagReader::FormatUnreadable(CFileReader&, const ExifEntry&, CExifTagFormat& format) {
    return format.Unreadable();
}

std::string CExifTagReader::FormatOther(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                        CExifTagFormat& format) {
    std::string text;
    if (entry.type == ExifTypes::Ascii && ReadAscii(file, entry, bounds, text)) {
        AdjustText(entry.tag, text);
        return format.TextAsStored(text);
    }
    return format.NoText();
}

std::string CExifTagReader::FormatTag(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds,
                                      CExifTagFormat& format) {
    const uint16_t tag = entry.tag;
    std::string text;
    std::vector<uint16_t> shorts;
    std::vector<Rational> rationals;

    auto firstRational = [&](Rational& out) {
        if (!ReadRationals(file, entry, bounds, rationals) || rationals.empty())
            return false;
        out = rationals.front();
        AdjustRational(tag, out);
        return true;
    };
    auto oneShort = [&](uint16_t& out) {
        if (!IsOneShort(entry) || !ReadShorts(file, entry, bounds, shorts) || shorts.empty())
            return false;
        uint32_t v = shorts.front();
        AdjustInteger(tag, v);
        out = static_cast<uint16_t>(v);
        return true;
    };

    switch (tag) {
        case 270:
        case 271:
        case 272:
        case 305:
        case 306:
            if (!ReadAscii(file, entry, bounds, text))
                break;
            AdjustText(tag, text);
            return tag == 306 ? format.DateText(text) : format.TextAsStored(text);
        case 274: {
            uint16_t v = 0;
            if (oneShort(v))
                return format.OrientationText(v);
            break;
        }
        case 33434: {
            Rational r;
            if (firstRational(r))
                return format.ExposureTimeText(r.first, r.second);
            break;
        }
        case 33437:
        case 37381:
        case 37386:
        case 37122: {
            Rational r;
            if (firstRational(r))
                return format.RationalText(tag == 37122 ? "%u" : "%g", r.first, r.second);
            break;
        }
        case 37380: {
            std::vector<SignedRational> values;
            if (!ReadSignedRationals(file, entry, bounds, values) || values.empty())
                break;
            SignedRational r = values.front();
            AdjustSignedRational(tag, r);
            return format.SignedRationalText("%g", r.first, r.second);
        }
        case 34855:
            if (!ReadShorts(file, entry, bounds, shorts))
                break;
            AdjustShorts(tag, shorts);
            return format.CountText(shorts);
        case 40962:
        case 40963: {
            uint32_t v = 0;
            std::vector<uint32_t> longs;
            if (entry.type == ExifTypes::Short && ReadShorts(file, entry, bounds, shorts) && !shorts.empty())
                v = shorts.front();
            else if (entry.type == ExifTypes::Long && ReadLongs(file, entry, bounds, longs) && !longs.empty())
                v = longs.front();
            else
                break;
            AdjustInteger(tag, v);
            return format.IntegerText("%u", v);
        }
        case 41988: {
            Rational r;
            if (firstRational(r))
                return format.DigitalZoomText(r.first, r.second);
            break;
        }
        case 41989: {
            uint16_t v = 0;
            if (oneShort(v))
                return format.FocalLength35Text(v);
            break;
        }
        case 531:
        case 34850:
        case 37383:
        case 37384:
        case 37385:
        case 40961:
        case 41986:
        case 41987:
        case 41990:
        case 41994: {
            uint16_t v = 0;
            if (oneShort(v))
                return format.EnumText(tag, v);
            break;
        }
        default:
            return FormatOther(file, entry, bounds, format);
    }
    return FormatUnreadable(file, entry, format);
}

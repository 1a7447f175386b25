#include "CExifTagFormat.h"

#include <QDateTime>
#include <QLocale>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "StringTable.h"

namespace {

// The conversion letter of a one-conversion format whose flags are only a
// width and precision; 0 for anything else, so no stray directive ever
// reaches snprintf.
char Conversion(const char* format) {
    const char* p = format ? std::strchr(format, '%') : nullptr;
    if (!p)
        return 0;
    for (++p; *p && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.'); ++p) {
    }
    const char letter = *p;
    if (letter != 'g' && letter != 'd' && letter != 'u')
        return 0;
    if (std::strchr(p + 1, '%'))
        return 0;
    return letter;
}

// The format with its conversion letter replaced by another conversion.
std::string WithConversion(const char* format, const char* replacement) {
    std::string f(format);
    const size_t percent = f.find('%');
    size_t letter = percent + 1;
    while (letter < f.size() && (std::isdigit(static_cast<unsigned char>(f[letter])) || f[letter] == '.'))
        ++letter;
    return f.substr(0, letter) + replacement + f.substr(letter + 1);
}

template <typename T>
std::string Print(const std::string& format, T value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    return buffer;
}

const char kUnknownType[] = "Unknown type!";

}  // namespace

std::string LocaleDateTimeText(const QDateTime& when) {
    const QLocale locale = QLocale::system();
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    // No time zone: a camera stores none, and the file times are shown as local.
    timeFormat.remove(QLatin1Char('t'));
    timeFormat = timeFormat.trimmed();
    return (locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
            locale.toString(when.time(), timeFormat))
        .toStdString();
}

std::string CExifTagFormat::RationalText(const char* format, uint32_t numerator, uint32_t denominator) {
    if (denominator == 0)
        return {};
    switch (Conversion(format)) {
        case 'g':
            return Print(format, static_cast<double>(numerator) / denominator);
        case 'd':
            // 64-bit, so no quotient can trap.
            return Print(
                WithConversion(format, "lld"),
                static_cast<long long>(static_cast<int32_t>(numerator)) / static_cast<int32_t>(denominator));
        case 'u':
            return Print(format, numerator / denominator);
        default:
            return kUnknownType;
    }
}

std::string CExifTagFormat::SignedRationalText(const char* format, int32_t numerator, int32_t denominator) {
    if (denominator == 0)
        return {};
    switch (Conversion(format)) {
        case 'g':
            return Print(format, static_cast<double>(numerator) / denominator);
        case 'd':
            // INT_MIN / -1 would trap in 32 bits.
            return Print(WithConversion(format, "lld"),
                         static_cast<long long>(numerator) / static_cast<long long>(denominator));
        case 'u':
            return Print(WithConversion(format, "llu"),
                         static_cast<unsigned long long>(static_cast<long long>(numerator) / denominator));
        default:
            return kUnknownType;
    }
}

std::string CExifTagFormat::IntegerText(const char* format, uint32_t value) {
    switch (Conversion(format)) {
        case 'g':
            return Print(format, static_cast<double>(value));
        case 'd':
            return Print(format, static_cast<int32_t>(value));
        case 'u':
            return Print(format, value);
        default:
            return kUnknownType;
    }
}

std::string CExifTagFormat::ExposureTimeText(uint32_t numerator, uint32_t denominator) {
    if (numerator == 0)
        return {};
    if (denominator > numerator)
        return Print("1/%u", denominator / numerator);
    // A denominator of 0 never arrives: the reader stores it as 0/1.
    return Print("%3g", static_cast<double>(numerator) / (denominator ? denominator : 1));
}

std::string CExifTagFormat::DigitalZoomText(uint32_t numerator, uint32_t denominator) {
    if (numerator != 0 && denominator != 0)
        return Print("%g", static_cast<double>(numerator) / denominator);
    return "Off";
}

std::string CExifTagFormat::OrientationText(uint16_t value) {
    if (value < 1 || value > 8)
        return {};
    return Res::LoadStr(175 + value - 1);
}

std::string CExifTagFormat::FocalLength35Text(uint16_t value) {
    if (value == 0)
        return Res::LoadStr(183);
    return Print("%u", static_cast<unsigned>(value));
}

std::string CExifTagFormat::CountText(const std::vector<uint16_t>& values) {
    if (values.empty())
        return {};
    return Print("%u", static_cast<unsigned>(values.front()));
}

std::string CExifTagFormat::DateText(const std::string& stored) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(stored.c_str(), "%d:%d:%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 || y < 1970 ||
        y > 3000 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 24 || mi < 0 || mi > 60 || s < 0 ||
        s > 60)
        return stored;
    // Like the platform's date value, day 31 of a short month and hour 24
    // roll over into what follows.
    const QDate date = QDate(y, mo, 1).addDays(d - 1);
    const QDateTime when = QDateTime(date, QTime(0, 0)).addSecs(h * 3600 + mi * 60 + s);
    return LocaleDateTimeText(when);
}

std::string CExifTagFormat::TextAsStored(const std::string& stored) {
    return stored;
}

std::string CExifTagFormat::EnumText(uint16_t, uint16_t) {
    return NoText();
}

std::string CExifTagFormat::NoText() {
    return {};
}

std::string CExifTagFormat::Unreadable() {
    return {};
}

#pragma once
// OpenForReading for Qt's readers (QImageReader and the like), header-only so
// the platform library itself stays free of Qt. Only Qt users include it.

#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstdint>
#include <string>

#include "FileReading.h"

namespace Platform {

// Opens the file (a byte path, so any name the file system holds works) as
// OpenForReading does; false leaves the QFile closed.
inline bool OpenForReading(QFile& file, const std::string& path, std::uint64_t maxBytes) {
    const int fd = OpenForReading(path, maxBytes);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// The name's extension as Qt's format hint, which it uses first as it does
// for a reader made from a file name; the content decides when it does not fit.
inline QByteArray ImageFormatHint(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return QByteArray::fromStdString(path.substr(dot + 1)).toLower();
}

// A picture Qt can read, from a regular file of at most maxBytes; null otherwise.
inline QImage ReadQImage(const std::string& path, std::uint64_t maxBytes) {
    QFile file;
    if (!OpenForReading(file, path, maxBytes))
        return {};
    QImageReader reader(&file, ImageFormatHint(path));
    return reader.read();
}

}  // namespace Platform

#pragma once
// File URLs of the clipboard and of drags, byte for byte, header-only so the
// platform library itself stays free of Qt. A name on this file system is
// bytes, not always UTF-8: going through QString would turn the bytes that
// are not into U+FFFD and name a file that does not exist. The percent-encoded
// form carries any byte, so both directions go through it.

#include <QByteArray>
#include <QUrl>

#include <string>

namespace Platform {

// The file URL of a path (absolute) with each byte that needs it percent-encoded.
inline QUrl UrlOfLocalPath(const std::string& path) {
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
}

// The path a file URL names, its percent-encoded bytes decoded as they are;
// "" for any other URL.
inline std::string LocalPathOfUrl(const QUrl& url) {
    if (!url.isLocalFile())
        return {};
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

}  // namespace Platform

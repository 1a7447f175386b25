#include "BrowserSettings.h"

#include <QString>

#include <cstdio>

QColor ParseBrowserColour(const QString& text, const QColor& fallback) {
    int r = 0, g = 0, b = 0;
    const QByteArray bytes = text.toLatin1();
    if (std::sscanf(bytes.constData(), "%d, %d, %d", &r, &g, &b) != 3)
        return fallback;
    return QColor(r & 0xFF, g & 0xFF, b & 0xFF);
}

#pragma once
// The browser's colours (the program loads them from its skin's "BROWSER"
// section; the browser asks its host for them) and the thumbnail zoom.

#include <QColor>

// g_nThumbnailSize, the thumbnail zoom, is the program-wide one of the toolkit.
#include "BrowserGlobals.h"

struct BrowserColours {
    QColor text{0, 0, 0};                    // "TEXT COLOR"
    QColor selectedText{255, 0, 0};          // "SELECTED TEXT COLOR"
    QColor background{203, 219, 244};        // "BACKGROUND COLOR"
    QColor inFrame{233, 233, 233};           // "BACKGROUND COLOR INFRAME"
    QColor inFrameCut{128, 128, 128};        // "BACKGROUND COLOR INFRAME CUT"
    QColor border{122, 157, 227};            // "BORDER COLOR"
    QColor selectedBorder{254, 190, 47};     // "SELECTED BORDER COLOR"
    QColor detailsSeparator{123, 138, 172};  // "DETAILS SEPARATOR COLOR"
    QColor detailsTab{119, 158, 227};        // "DETAILS TAB COLOR"
};

// Parses "r, g, b" as the profile stores a colour; the fallback when it is not three numbers.
QColor ParseBrowserColour(const QString& text, const QColor& fallback);

#pragma once
// The browser settings that the program loads from its profile (section
// "BROWSER") and the items' layout and drawing read: the thumbnail zoom, the
// details flag, the list row width and the colours.

#include <QColor>

// g_nThumbnailSize, the thumbnail zoom, is the program-wide one of the toolkit.
#include "BrowserGlobals.h"

// Items drawn as list rows ("DETAILS").
extern bool g_bBrowserDetails;
// The details list shows instead of the thumbnails ("VIEWLIST").
extern bool g_bFilesListMode;
// Width of a list row, kept by the view.
extern int g_nListRowWidth;

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
extern BrowserColours g_BrowserColours;

// Parses "r, g, b" as the profile stores a colour; the fallback when it is not three numbers.
QColor ParseBrowserColour(const QString& text, const QColor& fallback);

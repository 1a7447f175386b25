#pragma once
// Program-wide values the photo browser draws and lays out with; the
// application loads them with its settings (the colours from the skin's
// "BROWSER" section) and saves the sizes at exit.

#include <QRgb>

extern QRgb g_clrBrowserSelectedText;
extern QRgb g_clrBrowserText;
extern QRgb g_clrBrowserBackground;
extern QRgb g_clrBrowserInFrame;
extern QRgb g_clrBrowserInFrameCut;
extern QRgb g_clrBrowserSelectedBorder;
extern QRgb g_clrBrowserBorder;
extern QRgb g_clrDetailsSeparator;
extern QRgb g_clrDetailsTab;

// Thumbnail zoom in percent of the item box (100 until the profile is read).
extern int g_nThumbnailSize;
// 1 when the file list shows as a list.
extern int g_bThumbsListMode;

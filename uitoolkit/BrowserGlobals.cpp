#include "BrowserGlobals.h"

QRgb g_clrBrowserSelectedText = qRgb(255, 0, 0);
QRgb g_clrBrowserText = qRgb(0, 0, 0);
QRgb g_clrBrowserBackground = qRgb(203, 219, 244);
QRgb g_clrBrowserInFrame = qRgb(233, 233, 233);
QRgb g_clrBrowserInFrameCut = qRgb(128, 128, 128);
QRgb g_clrBrowserSelectedBorder = qRgb(254, 190, 47);
QRgb g_clrBrowserBorder = qRgb(122, 157, 227);
QRgb g_clrDetailsSeparator = qRgb(123, 138, 172);
QRgb g_clrDetailsTab = qRgb(119, 158, 227);

int g_nThumbnailSize = 100;
int g_bThumbsListMode = 0;

#include "BrowserGlobals.h"


int g_nThumbnailSize = 100;
int g_bThumbsListMode = 0;

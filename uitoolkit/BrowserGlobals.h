#pragma once
// Program-wide values the photo browser lays out with; the application
// loads them with its settings and saves them at exit. (The browser's
// colours are the application's; the browser asks its host for them.)

// Thumbnail zoom in percent of the item box (100 until the profile is read).
extern int g_nThumbnailSize;
// 1 when the file list shows as a list.
extern int g_bThumbsListMode;

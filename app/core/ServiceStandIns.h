#pragma once
// Stand-ins for what the photo browser will provide to the application
// object. Each does nothing yet but StopThumbsBuilder,
// which stops the thumbnail request thread; when the real service lands, its
// call replaces the one here and this file shrinks.

namespace StandIn {

// Photo browser: the library watcher, the thumbnail builder threads and the
// browser's hold on the thumbnail cache.
bool CreateWin7Library();
void DestroyWin7Library();
void StopThumbsBuilder();
void ReleaseThumbCache();

}  // namespace StandIn

#pragma once
// Stand-ins for what the photo browser will provide to the application
// object. Each does nothing yet; when the real service lands, its call
// replaces the one here and this file shrinks.

namespace StandIn {

// Photo browser: the library watcher.
bool CreateWin7Library();
void DestroyWin7Library();

}  // namespace StandIn

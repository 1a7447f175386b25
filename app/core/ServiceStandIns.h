#pragma once
// Stand-ins for what the photo browser and the online services will provide
// to the application object. Each does nothing yet; when the real service
// lands, its call replaces the one here and this file shrinks.

namespace StandIn {

// Photo browser: the library watcher.
bool CreateWin7Library();
void DestroyWin7Library();

// Online services: the background update check and the pending uploads.
class CUpdateCheck {
public:
    // Starts a check; synchronous when asked. Returns the check's status (0:
    // nothing found).
    int Start(bool synchronous);
};
CUpdateCheck& GetUpdateCheck();
void UploadPendingPanoramas();

}  // namespace StandIn

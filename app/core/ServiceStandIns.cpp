#include "ServiceStandIns.h"

#include "ThumbRequests.h"

namespace StandIn {

bool CreateWin7Library() {
    return false;
}
void DestroyWin7Library() {}
void StopThumbsBuilder() {
    g_ThumbRequestQueue.Stop();
}
void ReleaseThumbCache() {}

int CUpdateCheck::Start(bool /*synchronous*/) {
    return 0;
}

CUpdateCheck& GetUpdateCheck() {
    static CUpdateCheck check;
    return check;
}

void UploadPendingPanoramas() {}

}  // namespace StandIn

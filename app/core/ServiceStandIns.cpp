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

}  // namespace StandIn

#include "ServiceStandIns.h"

namespace StandIn {

bool CreateWin7Library() {
    return false;
}
void DestroyWin7Library() {}

int CUpdateCheck::Start(bool /*synchronous*/) {
    return 0;
}

CUpdateCheck& GetUpdateCheck() {
    static CUpdateCheck check;
    return check;
}

void UploadPendingPanoramas() {}

}  // namespace StandIn

#include "ServiceStandIns.h"

namespace StandIn {

bool CreateWin7Library() {
    return false;
}
void DestroyWin7Library() {}

}  // namespace StandIn

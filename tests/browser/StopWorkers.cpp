// The thumbnail request thread ends before the test program's QApplication.
#include "ThumbRequests.h"

void StopWorkersBeforeQtGoes() {
    g_ThumbRequestQueue.Stop();
}

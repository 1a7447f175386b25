// The thumbnail threads end before the test program's QApplication.
#include "CThumbsBuilderThreads.h"

void StopWorkersBeforeQtGoes() {
    StopThumbsBuilder();
}

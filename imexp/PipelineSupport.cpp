#include "PipelineSupport.h"

namespace formgate {

void OperationProgress::Begin() {
    if (progress_) {
        progress_->Begin();
        begun_ = true;
    }
}

int OperationProgress::Step(int done, int total) {
    return progress_ && progress_->Step(done, total) == 0 ? ImExp::ErrorCancelled : 0;
}

void OperationProgress::End() {
    if (begun_ && progress_)
        progress_->End();
    begun_ = false;
}

}  // namespace formgate

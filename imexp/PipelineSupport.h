#pragma once
// What the read and the write pipeline share: the caller's progress through
// one operation, and the last barrier round a whole operation.

#include <new>

#include "Formgate.h"

namespace formgate {

// The caller's progress object (or none): Begin once, a step per row, and End
// only when Begin was called.
class OperationProgress {
public:
    explicit OperationProgress(CProgress* progress) : progress_(progress) {}

    void Begin();
    // ErrorCancelled when the caller cancels at row done of total, else 0.
    int Step(int done, int total);
    void End();

private:
    CProgress* progress_;
    bool begun_ = false;
};

// The operation's own result, or the code of what it throws: no memory for
// bad_alloc, the general error for anything else.
template <class Run>
int RunOperation(Run&& run) noexcept {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return ImExp::ErrorNoMemory;
    } catch (...) {
        return ImExp::ErrorGeneral;
    }
}

}  // namespace formgate

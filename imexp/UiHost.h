#pragma once
// What the library asks of a user interface: a message box and the wait
// cursor. The library runs without one (nothing is shown); the module's
// dialogs install the Qt implementation, tests a recording one.

#include <string>

namespace formgate {

class UiHost {
public:
    enum class Icon { Error, Warning };

    virtual ~UiHost() = default;
    // A modal message box owned by owner (a QWidget* passed as void*, never null).
    virtual void MessageBox(void* owner, const std::string& text, const std::string& caption, Icon icon) = 0;
    // The wait cursor while a file is opened and set up; calls nest.
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}
};

// Holds the wait cursor for a scope.
class WaitCursor {
public:
    WaitCursor() = default;
    ~WaitCursor() { Restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void Begin(UiHost* host) {
        Restore();
        host_ = host;
        if (host_)
            host_->BeginWaitCursor();
    }
    void Restore() {
        if (host_)
            host_->EndWaitCursor();
        host_ = nullptr;
    }

private:
    UiHost* host_ = nullptr;
};

}  // namespace formgate

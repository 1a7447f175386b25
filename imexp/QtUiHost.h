#pragma once
// The library's user interface on Qt Widgets: message boxes, the wait cursor
// and the dialogs. Nothing is shown without a QApplication; off its thread
// only a message box is, later on the GUI thread, and the library goes on
// silently otherwise (the dialog calls return 0).

#include "UiHost.h"

namespace formgate {

class QtUiHost : public UiHost {
public:
    void MessageBox(void* owner, const std::string& text, const std::string& caption, Icon icon) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    bool CanShowDialogs() override;
    int RunOpenDialog(void* owner, OpenDialogRequest& request) override;
    int RunSaveDialog(void* owner, SaveDialogRequest& request) override;
    int SelectImage(void* owner, const std::string& fileTitle, int count,
                    const std::function<int(const std::string&)>& isValid) override;
    int ShowImageInfo(void* owner, const ImageInfoTexts& texts,
                      const std::function<void(void* dialog)>& details) override;
    int ConfigureConverters(void* owner, ConverterSetupModel& model) override;

private:
    int cursorDepth_ = 0;  // touched on the GUI thread only
};

// The one instance the companion library hands out.
QtUiHost& TheQtUiHost();

}  // namespace formgate

// The companion library's one entry point, looked up by libformgate.so.
extern "C" __attribute__((visibility("default"))) formgate::UiHost* FormgateQtUiHost();

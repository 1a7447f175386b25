#pragma once
// The user interface of libformgate.so: the Qt dialogs live in a companion
// library beside it, "libformgate_qt.so", which is loaded the first time a
// message or dialog is asked for, and only when the process already runs Qt
// Widgets. A program without Qt never maps Qt through this library, and
// nothing is shown there.

#include <mutex>

#include "UiHost.h"

namespace formgate {

class CompanionUiHost : public UiHost {
public:
    static constexpr const char* kLibraryName = "libformgate_qt.so";

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
    // The companion's host, or null while Qt Widgets is not in the process
    // (asked again next time) or when the companion cannot be loaded.
    UiHost* Companion();

    std::mutex mutex_;
    UiHost* companion_ = nullptr;
    bool failed_ = false;
};

}  // namespace formgate

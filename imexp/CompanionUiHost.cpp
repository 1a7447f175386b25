#include "CompanionUiHost.h"

#include <dlfcn.h>

#include "FormgateApp.h"

namespace formgate {

UiHost* CompanionUiHost::Companion() {
    std::lock_guard lock(mutex_);
    if (companion_ || failed_)
        return companion_;
    // Without Qt Widgets there can be no QApplication to show anything with.
    void* widgets = ::dlopen("libQt6Widgets.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!widgets)
        return nullptr;
    ::dlclose(widgets);
    const std::string path = CFormgateApp::OwnFolder() + "/" + kLibraryName;
    // Never unloaded: Qt keeps pointers into the code of the widgets it made.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto* entry = handle ? reinterpret_cast<UiHost* (*)()>(::dlsym(handle, "FormgateQtUiHost")) : nullptr;
    companion_ = entry ? entry() : nullptr;
    failed_ = companion_ == nullptr;
    return companion_;
}

void CompanionUiHost::MessageBox(void* owner, const std::string& text, const std::string& caption,
                                 Icon icon) {
    if (UiHost* host = Companion())
        host->MessageBox(owner, text, caption, icon);
}

void CompanionUiHost::BeginWaitCursor() {
    if (UiHost* host = Companion())
        host->BeginWaitCursor();
}

void CompanionUiHost::EndWaitCursor() {
    if (UiHost* host = Companion())
        host->EndWaitCursor();
}

bool CompanionUiHost::CanShowDialogs() {
    UiHost* host = Companion();
    return host && host->CanShowDialogs();
}

int CompanionUiHost::RunOpenDialog(void* owner, OpenDialogRequest& request) {
    UiHost* host = Companion();
    return host ? host->RunOpenDialog(owner, request) : -1;
}

int CompanionUiHost::RunSaveDialog(void* owner, SaveDialogRequest& request) {
    UiHost* host = Companion();
    return host ? host->RunSaveDialog(owner, request) : -1;
}

int CompanionUiHost::SelectImage(void* owner, const std::string& fileTitle, int count,
                                 const std::function<int(const std::string&)>& isValid) {
    UiHost* host = Companion();
    return host ? host->SelectImage(owner, fileTitle, count, isValid) : -1;
}

int CompanionUiHost::ShowImageInfo(void* owner, const ImageInfoTexts& texts,
                                   const std::function<void(void* dialog)>& details) {
    UiHost* host = Companion();
    return host ? host->ShowImageInfo(owner, texts, details) : 0;
}

int CompanionUiHost::ConfigureConverters(void* owner, ConverterSetupModel& model) {
    UiHost* host = Companion();
    return host ? host->ConfigureConverters(owner, model) : 0;
}

}  // namespace formgate

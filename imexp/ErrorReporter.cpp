#include "ErrorReporter.h"

#include <cstring>

#include "ConverterLibrary.h"
#include "FormgateApp.h"
#include "ModuleStrings.h"
#include "UiHost.h"

namespace formgate {

namespace {

thread_local int lastReported = 0;

std::string FileTitle(const char* path) {
    if (!path)
        return {};
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace

std::string ErrorReportText(int code, const char* path, const ConverterLibrary* library,
                            const std::string& settingsPath) {
    const std::string title = FileTitle(path);
    if (code >= ImExp::ErrorCustom && library && library->IsOpen()) {
        if (auto* getText = FORMGATE_ENTRY(*library, ConvGetErrorString)) {
            // Cleared and cut, so a converter that writes nothing or too much shows no garbage.
            char text[261] = {};
            const int failed = GuardedCall([&] { getText(code, title.c_str(), settingsPath.c_str(), text); });
            text[259] = '\0';
            if (failed == 0 && text[0] != '\0')
                return text;
        }
    }
    if (code > ImExp::ErrorGeneral)
        code = ImExp::ErrorGeneral;
    return ErrorText(code, title);
}

void ReportError(void* owner, int code, const char* path, const ConverterLibrary* library) {
    if (code == 0)
        return;
    lastReported = code;
    if (code == ImExp::ErrorCancelled || !owner)
        return;
    CFormgateApp& app = TheFormgateApp();
    UiHost* host = app.Host();
    if (!host)
        return;
    const std::string text = ErrorReportText(code, path, library, app.SettingsPath());
    host->MessageBox(owner, text, ModuleString(IDS_CONVERTER_ERROR), UiHost::Icon::Error);
}

int LastReportedError() {
    return lastReported;
}

void ClearLastReportedError() {
    lastReported = 0;
}

}  // namespace formgate

#pragma once
// The one error reporter of the library: turns an error code into the text of
// a "Converter Error" message box and shows it to the caller's window.

#include <string>

namespace formgate {

class ConverterLibrary;

// The text for code: for 16 and above, what a loaded converter's
// ConvGetErrorString writes (when it exports one and writes something), else
// the fixed message of the code (above 15: of 15) with the title of path
// (its name without folder) in place of "%s". path and library may be null.
std::string ErrorReportText(int code, const char* path, const ConverterLibrary* library,
                            const std::string& settingsPath);

// Reports code: shows the text above through the application's UI host,
// captioned "Converter Error" with the error icon, unless code is 0 or 12
// or owner is null. Every non-zero code is also kept as this thread's last
// reported code, shown or not.
void ReportError(void* owner, int code, const char* path, const ConverterLibrary* library);

// The code of this thread's last ReportError (0 when none); lets tests see
// codes that are not shown.
int LastReportedError();
void ClearLastReportedError();

}  // namespace formgate

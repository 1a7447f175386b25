#pragma once
// The module's string table: fixed texts by number, the error messages by code
// and the names of the colour types.

#include <string>
#include <string_view>

namespace formgate {

enum StringId : int {
    IDS_CONVERTERS_SECTION = 1,  // "Converters"
    IDS_CONVERTER_ERROR = 37,    // "Converter Error"
    IDS_SETTINGS_FILE = 69,      // "CONVERT.INI"
    IDS_SETTINGS_SECTION = 90,   // "Settings"
};

// The text of a string number; empty for an unknown number.
const char* ModuleString(int id);

// The message of an error code as stored, with its "%s" for the file title;
// codes outside 1 to 20 give the message of code 15.
const char* ErrorMessage(int code);

// The message with the file title put in place of "%s" (the title is never
// used as a format).
std::string ErrorText(int code, std::string_view fileTitle);

// "GrayScale" ... "CMYK color separated" for colour types 0 to 8; empty otherwise.
const char* ColourTypeName(int colourType);

}  // namespace formgate

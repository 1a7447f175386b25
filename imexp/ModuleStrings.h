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
    IDS_REFRESH = 25,            // "&Refresh"
    IDS_AVI_FILTER = 27,         // "AVI Files (*.AVI)"
    IDS_AVI_PATTERN = 28,        // "*.avi"
    IDS_BROWSE_TITLE = 29,       // "Browse"
    IDS_ALL_GRAPHIC_FILES = 66,  // "All Graphic Files"
    // Texts of the dialogs.
    IDS_UNABLE_TO_INSTALL = 200,  // "Unable to install %s"
    IDS_ALREADY_INSTALLED,        // "Converter already installed"
    IDS_ILLEGAL_NUMBER,           // "Illegal number entered."
    IDS_KIND_IMPORT_EXPORT,       // "Import/Export filter"
    IDS_KIND_EXPORT,              // "Export filter"
    IDS_KIND_IMPORT,              // "Import filter"
    IDS_UNKNOWN,                  // "<Unknown>"
    IDS_UNCOMPRESSED,             // "Uncompressed"
    IDS_DEEP_COLOURS,             // "48 bits per pixel"
    IDS_LIBRARIES_FILTER,         // "Libraries"
    IDS_INFO_BUTTON,              // "&Info..."
    IDS_BROWSE_BUTTON,            // "&Browse..."
    IDS_DETAILS_BUTTON,           // "&Details..."
    IDS_IMAGE_INFO_TITLE,         // "Image Info"
    IDS_SELECT_IMAGE_TITLE,       // "Select Image"
    IDS_CONVERTER_SETUP_TITLE,    // "Converter Setup"
    IDS_IMAGES_LABEL,             // "Images :"
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

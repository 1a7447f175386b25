#include "ModuleStrings.h"

namespace formgate {

const char* ModuleString(int id) {
    switch (id) {
        case IDS_CONVERTERS_SECTION:
            return "Converters";
        case IDS_CONVERTER_ERROR:
            return "Converter Error";
        case IDS_SETTINGS_FILE:
            return "CONVERT.INI";
        case IDS_SETTINGS_SECTION:
            return "Settings";
        case IDS_REFRESH:
            return "&Refresh";
        case IDS_AVI_FILTER:
            return "AVI Files (*.AVI)";
        case IDS_AVI_PATTERN:
            return "*.avi";
        case IDS_BROWSE_TITLE:
            return "Browse";
        case IDS_ALL_GRAPHIC_FILES:
            return "All Graphic Files";
        case IDS_UNABLE_TO_INSTALL:
            return "Unable to install %s";
        case IDS_ALREADY_INSTALLED:
            return "Converter already installed";
        case IDS_ILLEGAL_NUMBER:
            return "Illegal number entered.";
        case IDS_KIND_IMPORT_EXPORT:
            return "Import/Export filter";
        case IDS_KIND_EXPORT:
            return "Export filter";
        case IDS_KIND_IMPORT:
            return "Import filter";
        case IDS_UNKNOWN:
            return "<Unknown>";
        case IDS_UNCOMPRESSED:
            return "Uncompressed";
        case IDS_DEEP_COLOURS:
            return "48 bits per pixel";
        case IDS_LIBRARIES_FILTER:
            return "Libraries";
        case IDS_INFO_BUTTON:
            return "&Info...";
        case IDS_BROWSE_BUTTON:
            return "&Browse...";
        case IDS_DETAILS_BUTTON:
            return "&Details...";
        case IDS_IMAGE_INFO_TITLE:
            return "Image Info";
        case IDS_SELECT_IMAGE_TITLE:
            return "Select Image";
        case IDS_CONVERTER_SETUP_TITLE:
            return "Converter Setup";
        case IDS_IMAGES_LABEL:
            return "Images :";
        default:
            return "";
    }
}

const char* ErrorMessage(int code) {
    static const char* const messages[] = {
        "",
        "Unexpected end of file %s",
        "No enough memory",
        "Unknown image file format %s",
        "Invalid Image File %s",
        "Unsupporter Subformat %s",
        "Cannot open file %s",
        "No images found in file %s",
        "Wrong Image Number %s",
        "File too big %s",
        "Converter in use by other program",
        "Illegal conversion requested",
        "Operation cancelled by user",
        "Disk full writing %s",
        "Decompressor Error %s",
        "General Conversion Error",
        "Custom Converter Error",
        "Converters configured inproperly",
        "Wrong custom DLL version %s",
        "WA Failure",
        "No Suitable Formats for Save",
    };
    if (code < 1 || code > 20)
        code = 15;
    return messages[code];
}

std::string ErrorText(int code, std::string_view fileTitle) {
    std::string text = ErrorMessage(code);
    size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, fileTitle);
    return text;
}

const char* ColourTypeName(int colourType) {
    static const char* const names[] = {
        "GrayScale",
        "Gray Paletted",
        "Color Paletted",
        "RGB",
        "Gray with Alpha Channel",
        "RGB with Alpha Channel",
        "YCbCr (Video)",
        "L*a*b*",
        "CMYK color separated",
    };
    return (colourType >= 0 && colourType <= 8) ? names[colourType] : "";
}

}  // namespace formgate

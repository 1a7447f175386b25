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

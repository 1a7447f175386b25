#pragma once
// The read pipeline: one image file through its reader converter into a
// caller's sink, band by band, each row converted to the pixel type the sink
// accepts, with progress and cancel. ImExp_ReadFile, ImExp_ReadFileW and
// ImExp_ReadThumb are thin doors into ReadImage.

#include <string>

#include "Formgate.h"

namespace formgate {

struct ReadRequest {
    CAbstractReadWA* sink = nullptr;
    void* owner = nullptr;
    std::string path;                    // UTF-8; what the converter and the messages get
    const char16_t* widePath = nullptr;  // when set, the file is opened by this name
    int acceptedTypes = 0;
    CProgress* progress = nullptr;
    char** options = nullptr;
    int optionCount = 0;
    const ImExpRect* thumbnailBox = nullptr;  // set: a thumbnail scaled into the box
};

// Reads the file; 1 on success, else 0 after reporting the error (ReportError).
int ReadImage(const ReadRequest& request);

// Rounded a x b / c in 64 bits, as the resolution arithmetic wants it; -1 when c is 0.
int MulDiv(int a, int b, int c);

// The dots per inch the sink gets for a converter's resolution unit and values.
void SinkResolution(int unit, int x, int y, int& xDpi, int& yDpi);

}  // namespace formgate

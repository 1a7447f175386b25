#pragma once
// The write pipeline: a caller's source through the first converter that can
// write its pixel type under the target's name, band by band, each row
// converted to the layout the converter asks for, with progress and cancel.
// The converter writes into a temporary "~qx" file beside the file the target
// names (a symbolic link is followed and kept), which is flushed to disk and
// renamed over that file only once it is complete: a failure or cancel at any
// point leaves an existing target as it was, and no temporary file behind. A
// target that is a folder is refused before the converter is set up.
// ImExp_WriteFile and ImExp_WriteFileW are thin doors into WriteImage.

#include <string>

#include "Formgate.h"

namespace formgate {

struct WriteRequest {
    const CAbstractWriteWA* source = nullptr;
    void* owner = nullptr;
    std::string path;  // UTF-8: the file system's names, the converter and the messages
    CProgress* progress = nullptr;
    char** options = nullptr;
    int optionCount = 0;
};

// Writes the file; 1 on success, else 0 after reporting the error (ReportError).
int WriteImage(const WriteRequest& request);

}  // namespace formgate

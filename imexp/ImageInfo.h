#pragma once
// "Image Info" and "Select Image": what a file holds, shown to the user, and
// which image of a multi-image file to describe.

#include <cstdint>
#include <string>

#include "ConverterInterface.h"
#include "UiHost.h"

namespace formgate {

// A number with ',' between groups of three digits: 1048576 -> "1,048,576".
std::string GroupedNumber(std::uint64_t value);

// The dialog's fields for a filled information record.
ImageInfoTexts ImageInfoDialogTexts(const CONVIMAGEINFO& info);

// The image number typed into "Select Image": 1 to count gives the image's
// index from 0; anything else -1.
int ParseImageNumber(const std::string& text, int count);

// ImExp_ShowFileInfo[W]: describes image imageNumber of the file (beyond the
// count: image 0; below 0: the user chooses) in the "Image Info" dialog.
// 1 when the dialog was shown; errors are reported to owner. The file is
// opened by widePath when given, else by path.
int ShowFileInfo(void* owner, const std::string& path, const char16_t* widePath, int imageNumber);

}  // namespace formgate

#include "Formgate.h"

// Thumbnails are read through the 8-bit name only; the 16-bit variant has
// always answered "nothing read".
int ImExp_ReadThumbW(CAbstractReadWA*, void*, const char16_t*, ImExpRect*) {
    return 0;
}

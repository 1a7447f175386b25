#include "StringTable.h"

#include <algorithm>

const char* Res::LoadStr(unsigned id) {
    const StringEntry* end = kStringTable + kStringCount;
    const StringEntry* it =
        std::lower_bound(kStringTable, end, id, [](const StringEntry& e, unsigned v) { return e.id < v; });
    return it != end && it->id == id ? it->text : "";
}

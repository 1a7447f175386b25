#pragma once
// The program's string table, built from res/strings/*.txt: texts by the
// program's numeric string ids, in UTF-8.

namespace Res {

struct StringEntry {
    unsigned id;
    const char* text;
};

// Sorted by id; the last entry is a sentinel.
extern const StringEntry kStringTable[];
extern const unsigned kStringCount;

// The text of a string id, "" when the table has none. Never a format built
// from user text: callers substitute their arguments themselves.
const char* LoadStr(unsigned id);

}  // namespace Res

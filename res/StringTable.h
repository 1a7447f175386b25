#pragma once
// The program's string table, built from res/strings/*.txt: texts by the
// program's numeric string ids, in UTF-8.

#include <map>
#include <string>

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

// The interface resource pack ("InterfaceRes<N>.pack", built from the same
// texts): once loaded, its texts are used before the built-in ones. False,
// with nothing changed, when the file is missing or damaged.
bool LoadPack(const std::string& path);
// The built-in texts again.
void UnloadPack();
bool PackLoaded();
// Parses pack bytes; false on any bad count or length.
bool ParsePack(const std::string& bytes, std::map<unsigned, std::string>& texts);

}  // namespace Res

#include "CropChoices.h"

#include <utility>

#include "DocText.h"
#include "StringTable.h"

namespace CropChoices {

namespace {

// Print products "aspect.xml" spells so that they cannot be read.
constexpr unsigned kIdsProductsSkipped = 61015;

std::vector<NetPrint::CAspectData> BuiltIns() {
    std::vector<NetPrint::CAspectData> list(2);
    list[0].name = Res::LoadStr(330);
    list[0].kind = 0;
    list[1].name = Res::LoadStr(331);
    list[1].kind = 1;
    return list;
}

}  // namespace

std::vector<NetPrint::CAspectData> Build(const std::string& programFileText, const std::string& userFileText,
                                         SkippedProducts* skipped) {
    // A product the file spells wrong is named to the user, so whoever edits
    // the file learns why it is not offered; the program folder's only while
    // its list is the one offered.
    std::vector<NetPrint::CAspectData> list = BuiltIns();
    std::vector<std::string> programSkipped = ParseAspectXml(programFileText, &list);
    std::vector<NetPrint::CAspectData> user;
    std::vector<std::string> userSkipped = ParseAspectXml(userFileText, &user);
    if (!user.empty()) {
        list = BuiltIns();
        list.insert(list.end(), user.begin(), user.end());
        programSkipped.clear();
    }
    if (skipped)
        *skipped = {std::move(programSkipped), std::move(userSkipped)};
    return list;
}

std::vector<NetPrint::CAspectData> Read(std::string* skippedText) {
    std::string programText, userText;
    const std::string programFile = LoadAspectFile(true);
    if (!programFile.empty())
        ReadTextFile(programFile, programText);
    const std::string userFile = LoadAspectFile(false);
    if (!userFile.empty())
        ReadTextFile(userFile, userText);
    SkippedProducts skipped;
    std::vector<NetPrint::CAspectData> list = Build(programText, userText, &skipped);
    std::string lines;
    for (const auto& [file, entries] :
         {std::pair{programFile, skipped.program}, std::pair{userFile, skipped.user}})
        for (const std::string& entry : entries)
            lines += "\n" + file + ": " + entry;
    if (skippedText)
        *skippedText = lines.empty() ? std::string() : DocText::Load(kIdsProductsSkipped, {lines});
    return list;
}

const NetPrint::CAspectData& At(const std::vector<NetPrint::CAspectData>& list, int index) {
    if (index < 0)
        return list[0];
    if (static_cast<std::size_t>(index) >= list.size())
        return list[1];
    return list[index];
}

}  // namespace CropChoices

#pragma once
// The print service's products (the crop choices after "No crop" and
// "Manual"), read from "aspect.xml" beside the program or in the per-user logs
// folder, and the folder of panoramas waiting to be uploaded.

#include <string>
#include <vector>

namespace NetPrint {

// One crop choice. kind: 0 no crop, 1 manual crop, 2 a print-service product.
struct CAspectData {
    int w = 0;
    int h = 0;
    int oms_id = 0;
    std::string name;
    int kind = 1;
};

}  // namespace NetPrint

// The print service's session-creation address and the maker's home page;
// "aspect.xml" may replace the compiled-in defaults.
extern std::string g_strNetPrintLoginUrl;
extern std::string g_strNetPrintHomeUrl;

// Larger product files are not read: the list is a few lines.
inline constexpr std::size_t kMaxAspectFileSize = 1 << 20;

// The per-user logs folder "<data>/ORVEXQXLOGS", created with its parents
// when missing; "" when there is no per-user data folder or it cannot be made.
std::string GetNetPrintLogsFolder();
// The path of "aspect.xml": beside the program (true) or in the logs folder
// (false; "" when there is none).
std::string LoadAspectFile(bool programFolder);
// The whole file as 8-bit text up to its first NUL byte; negative (and the
// text empty) when it cannot be opened or read whole, or exceeds maxSize.
int ReadTextFile(const std::string& path, std::string& text, std::size_t maxSize = kMaxAspectFileSize);
// Appends each PRODUCT element that has w, h and oms_id (a missing name takes
// the previous product's), kind 2, found by the elements' own spelling rather
// than as XML, so one malformed element costs only itself. Updates the two
// addresses from SESSIONCREATIONURL and ORVEXHOMEPAGEURL when not empty.
// Returns one line per PRODUCT element that was skipped, saying why.
std::vector<std::string> ParseAspectXml(const std::string& text, std::vector<NetPrint::CAspectData>* products);
// Appends every "Panorama*.jpg" of the logs folder and returns the first free
// "Panorama<N>.jpg" path; "" (and nothing listed) without a logs folder.
std::string ListPendingUploads(std::vector<std::string>& pending);

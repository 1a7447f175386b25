#include "AspectData.h"

#include "FileReading.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <climits>
#include <filesystem>
#include <system_error>

std::string g_strNetPrintLoginUrl = "http://print.orvex.example/loader/session";
std::string g_strNetPrintHomeUrl = "http://www.orvex.example/";

namespace {

// atoi's reading (blanks, sign, digits up to the first other character), but
// saturating instead of overflowing.
int ToInt(const QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

std::string GetNetPrintLogsFolder() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    const QString folder = data + "/ORVEXQXLOGS";
    // The data folder itself may not exist yet on a fresh account.
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return {};
    return QFile::encodeName(folder).toStdString();
}

std::string LoadAspectFile(bool programFolder) {
    if (programFolder) {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec)
            return {};
        return (exe.parent_path() / "aspect.xml").string();
    }
    const std::string folder = GetNetPrintLogsFolder();
    return folder.empty() ? std::string() : folder + "/aspect.xml";
}

int ReadTextFile(const std::string& path, std::string& text, std::size_t maxSize) {
    text.clear();
    std::string bytes;
    if (Platform::ReadWholeFile(path, maxSize, bytes) != 0)
        return -1;
    bytes.resize(bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0'));
    text = std::move(bytes);
    return static_cast<int>(text.size());
}

std::vector<std::string> ParseAspectXml(const std::string& text, std::vector<NetPrint::CAspectData>* products) {
    std::vector<std::string> skipped;
    if (!products)
        return skipped;
    // Plain substring searches, not an XML reader: a hand-edited file with an
    // unescaped '&' or a stray tag still gives every product it spells out,
    // and no declaration or entity of a user-writable file is ever expanded.
    const auto skip = [&skipped](std::size_t at, const char* why) {
        skipped.push_back("PRODUCT at byte " + std::to_string(at) + ": " + why);
    };
    std::string lastName;
    std::size_t from = 0;
    for (;;) {
        const std::size_t start = text.find("<PRODUCT ", from);
        const std::size_t end = text.find("/>", from);
        if (start == std::string::npos || end == std::string::npos)
            break;
        from = end + 2;
        if (end < start)
            continue;  // a "/>" of some other element before this product
        const auto opener = [&](const char* attribute) { return text.find(attribute, start); };
        const std::size_t w = opener("w=\""), h = opener("h=\""), id = opener("oms_id=\""),
                          name = opener("name=\"");
        const auto inside = [&](std::size_t at) { return at != std::string::npos && at < end; };
        if (!inside(w) || !inside(h) || !inside(id)) {
            skip(start, "w, h or oms_id missing");
            continue;
        }
        // The value behind an opener, up to the next double quote.
        const auto value = [&](std::size_t at, std::size_t openerLength, std::string* out) {
            const std::size_t first = at + openerLength;
            const std::size_t quote = text.find('"', first);
            if (quote == std::string::npos)
                return false;
            *out = text.substr(first, quote - first);
            return true;
        };
        std::string wText, hText, idText;
        // A name belongs to this element only when it stands inside it.
        if (inside(name) && !value(name, 6, &lastName)) {
            skip(start, "name without its closing quote");
            continue;
        }
        if (!value(w, 3, &wText) || !value(h, 3, &hText) || !value(id, 8, &idText)) {
            skip(start, "a value without its closing quote");
            continue;
        }
        NetPrint::CAspectData product;
        product.w = ToInt(QString::fromStdString(wText));
        product.h = ToInt(QString::fromStdString(hText));
        product.oms_id = ToInt(QString::fromStdString(idText));
        product.name = lastName;
        product.kind = 2;
        // A product without area has no proportions to crop to.
        if (product.w <= 0 || product.h <= 0) {
            skip(start, "no area");
            continue;
        }
        products->push_back(std::move(product));
    }
    // The address elements: the text behind the opening tag up to one
    // character before the closing tag's name; the last element counts.
    const auto address = [&text](const std::string& tag) {
        const std::string open = "<" + tag + ">", close = "/" + tag + ">";
        std::string found;
        for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
            const std::size_t first = at + open.size();
            const std::size_t stop = text.find(close, first);
            if (stop == std::string::npos || stop == first)
                break;
            found = text.substr(first, stop - 1 - first);
        }
        return found;
    };
    const std::string loginUrl = address("SESSIONCREATIONURL");
    const std::string homeUrl = address("ORVEXHOMEPAGEURL");
    if (!loginUrl.empty())
        g_strNetPrintLoginUrl = loginUrl;
    if (!homeUrl.empty())
        g_strNetPrintHomeUrl = homeUrl;
    return skipped;
}

std::string ListPendingUploads(std::vector<std::string>& pending) {
    const std::string folder = GetNetPrintLogsFolder();
    if (folder.empty())
        return {};
    QDir dir(QFile::decodeName(folder.c_str()));
    const QStringList names = dir.entryList({"Panorama*.jpg"}, QDir::Files, QDir::Unsorted);
    for (const QString& name : names)
        pending.push_back(folder + "/" + QFile::encodeName(name).toStdString());
    for (int n = 1;; ++n) {
        const std::string candidate = folder + "/Panorama" + std::to_string(n) + ".jpg";
        if (!std::filesystem::exists(candidate))
            return candidate;
    }
}

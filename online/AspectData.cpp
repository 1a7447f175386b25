#include "AspectData.h"

#include "FileReading.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QXmlStreamReader>

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

void ParseAspectXml(const std::string& text, std::vector<NetPrint::CAspectData>* products) {
    if (!products || text.empty())
        return;
    // The file is a list of elements without one root: give it one, after the
    // declaration when there is one, so the reader sees a document.
    QByteArray bytes = QByteArray::fromStdString(text);
    qsizetype bodyStart = 0;
    if (bytes.startsWith("<?xml")) {
        const qsizetype end = bytes.indexOf("?>");
        if (end < 0)
            return;
        bodyStart = end + 2;
    }
    bytes.insert(bodyStart, "<ASPECTLIST>");
    bytes.append("</ASPECTLIST>");

    std::vector<NetPrint::CAspectData> found;
    std::string loginUrl, homeUrl;
    std::string lastName;
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::DTD)
            return;  // no declarations or entities from a user-writable file
        if (token != QXmlStreamReader::StartElement)
            continue;
        const auto name = reader.name();
        if (name == u"PRODUCT") {
            const auto attributes = reader.attributes();
            if (!attributes.hasAttribute("w") || !attributes.hasAttribute("h") ||
                !attributes.hasAttribute("oms_id"))
                continue;
            if (attributes.hasAttribute("name"))
                lastName = attributes.value("name").toString().toStdString();
            NetPrint::CAspectData product;
            product.w = ToInt(attributes.value("w"));
            product.h = ToInt(attributes.value("h"));
            product.oms_id = ToInt(attributes.value("oms_id"));
            product.name = lastName;
            product.kind = 2;
            // A product without area has no proportions to crop to.
            if (product.w > 0 && product.h > 0)
                found.push_back(std::move(product));
        } else if (name == u"SESSIONCREATIONURL" || name == u"ORVEXHOMEPAGEURL") {
            const bool login = name == u"SESSIONCREATIONURL";
            const std::string value = reader.readElementText().trimmed().toStdString();
            if (!value.empty())
                (login ? loginUrl : homeUrl) = value;
        }
    }
    if (reader.hasError())
        return;
    products->insert(products->end(), found.begin(), found.end());
    if (!loginUrl.empty())
        g_strNetPrintLoginUrl = loginUrl;
    if (!homeUrl.empty())
        g_strNetPrintHomeUrl = homeUrl;
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

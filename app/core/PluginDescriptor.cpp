#include "PluginDescriptor.h"

#include <QByteArray>
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>
#include <QXmlStreamWriter>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "StringTable.h"

#ifndef OVH_VERSION_MAJOR
#define OVH_VERSION_MAJOR 0
#define OVH_VERSION_MINOR 0
#endif

namespace PluginDescriptor {

namespace {
// The product's display names: full name, short name, menu caption.
constexpr unsigned kDisplayNamesId = 347;
}  // namespace

uint32_t GetFileVersionMS() {
    return (uint32_t(OVH_VERSION_MAJOR & 0xffff) << 16) | uint32_t(OVH_VERSION_MINOR & 0xffff);
}

std::string FileName(uint32_t versionMS) {
    char name[64];
    std::snprintf(name, sizeof name, "OvHorizel2.%02hx.%02hx.ovplugin",
                  static_cast<unsigned short>(versionMS >> 16),
                  static_cast<unsigned short>(versionMS & 0xffff));
    return name;
}

std::string DefaultFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return (base + "/ORVEX/PLUGINS").toStdString();
}

std::string BuildXml(const std::string& exePath, const std::string& text) {
    const QString exe = QString::fromStdString(exePath);
    const QString icon = exe + QStringLiteral(",%1").arg(128);
    QString names = QString::fromStdString(text);
    names.replace('\n', '|');

    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("ovplugin");
    xml.writeStartElement("general");
    xml.writeAttribute("path", exe);
    xml.writeAttribute("icon", icon);
    xml.writeAttribute("type", "exe");
    xml.writeAttribute("call", "cmdline");
    xml.writeEndElement();
    xml.writeStartElement("plugins");
    xml.writeStartElement("plugin");
    xml.writeStartElement("interface");
    xml.writeAttribute("icon", icon);
    xml.writeAttribute("text", names);
    xml.writeAttribute("group", "3");
    xml.writeEndElement();
    xml.writeStartElement("special");
    xml.writeAttribute("mode", "browse");
    xml.writeAttribute("files-type", "image");
    xml.writeAttribute("files-count-min", "2");
    xml.writeAttribute("files-count-max", "-1");
    xml.writeEndElement();
    xml.writeEndElement();  // plugin
    xml.writeEndElement();  // plugins
    xml.writeEndElement();  // ovplugin
    xml.writeEndDocument();
    return out.toStdString();
}

bool RegisterPlugin(bool reg, const std::string& folderIn, const std::string& exePath, uint32_t versionMS) {
    if (folderIn.empty())
        return false;
    std::string folder = folderIn;
    if (!EnsureFolderPath(folder, false))
        return false;
    if (folder.back() != '/')
        folder += '/';
    const std::string path = folder + FileName(versionMS);
    if (!reg) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return !ec;
    }
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::string xml = BuildXml(exePath, Res::LoadStr(kDisplayNamesId));
    file.write(xml.data(), static_cast<qint64>(xml.size()));
    return file.commit();
}

}  // namespace PluginDescriptor

bool EnsureFolderPath(std::string& path, bool fallbackToTemp) {
    const bool trailing = !path.empty() && path.back() == '/';
    if (trailing && path.size() > 1)
        path.pop_back();
    std::error_code ec;
    // create_directories makes the missing levels in order, outermost first.
    if (!path.empty())
        std::filesystem::create_directories(path, ec);
    bool exists = !path.empty() && std::filesystem::is_directory(path, ec);
    if (!exists && fallbackToTemp) {
        path = QDir::tempPath().toStdString();
        exists = std::filesystem::is_directory(path, ec);
    }
    if (trailing && (path.empty() || path.back() != '/'))
        path += '/';
    return exists;
}

#include "SkinAccess.h"

namespace Skin {

namespace {
const ISkinReader* g_reader = nullptr;
}

void SetReader(const ISkinReader* reader) {
    g_reader = reader;
}
const ISkinReader* Reader() {
    return g_reader;
}

QColor Color(const char* section, const char* key, QColor defaultValue) {
    return g_reader ? g_reader->GetSkinColor(section, key, defaultValue) : defaultValue;
}

QString String(const char* section, const char* key, const QString& defaultValue) {
    return g_reader ? g_reader->GetSkinString(section, key, defaultValue) : defaultValue;
}

QString ResFolder() {
    return g_reader ? g_reader->GetResFolder() : QString();
}

QString ImagePath(const char* section, const char* key) {
    const QString name = String(section, key);
    return name.isEmpty() ? QString() : ResFolder() + name;
}

std::string FilePath(const QString& path) {
    const QString folder = ResFolder();
    if (g_reader && !folder.isEmpty() && path.startsWith(folder))
        return g_reader->GetResFolderPath() + path.mid(folder.size()).toStdString();
    return path.toStdString();
}

QColor DialogBackground() {
    return Color("PANORAMA DIALOG", "BACKGROUND COLOR", QColor::fromRgb(kDialogDefault));
}

}  // namespace Skin

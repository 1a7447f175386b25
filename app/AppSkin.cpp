#include "AppSkin.h"

#include "Bitmap32.h"

void CAppSkin::SetResFolder(const std::string& folder) {
    m_resFolder = folder;
    m_skinFile = folder + "resourses.ini";
    m_file.SetPath(m_skinFile);
}

QColor CAppSkin::GetSkinColor(const char* section, const char* key, QColor defaultValue) const {
    const SkinRgb def{uint8_t(defaultValue.red()), uint8_t(defaultValue.green()),
                      uint8_t(defaultValue.blue())};
    const SkinRgb c = m_file.GetSkinColor(section, key, def);
    return QColor(c.r, c.g, c.b);
}

QString CAppSkin::GetSkinString(const char* section, const char* key, const QString& defaultValue) const {
    return QString::fromStdString(m_file.GetSkinString(section, key, defaultValue.toStdString()));
}

QImage CAppSkin::LoadSkinImage(const char* section, const char* key) const {
    const std::string path = m_file.GetSkinImagePath(m_resFolder, section, key);
    return path.empty() ? QImage() : Bitmap32::LoadSkinPictureFile(path);
}

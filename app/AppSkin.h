#pragma once
// The skin readers every window uses: colours, texts and 32-bit pictures of
// the skin file "resourses.ini" in the Res folder, read anew at every call.

#include <QImage>
#include <QString>
#include <string>

#include "SkinAccess.h"
#include "SkinFile.h"

class CAppSkin : public ISkinReader {
public:
    // The Res folder, ending in '/'; the skin file lies in it.
    void SetResFolder(const std::string& folder);

    QColor GetSkinColor(const char* section, const char* key, QColor defaultValue) const override;
    QString GetSkinString(const char* section, const char* key, const QString& defaultValue) const override;
    QString GetResFolder() const override { return QString::fromStdString(m_resFolder); }
    std::string GetResFolderPath() const override { return m_resFolder; }
    // The 32-bit picture named by the key, from the Res folder; null image
    // when the key is missing or the file does not load.
    QImage LoadSkinImage(const char* section, const char* key) const;

    const CSkinFile& File() const { return m_file; }
    const std::string& SkinFilePath() const { return m_skinFile; }

private:
    std::string m_resFolder;
    std::string m_skinFile;
    CSkinFile m_file;
};

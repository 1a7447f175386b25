#pragma once
// How the toolkit reaches the application's skin readers: the application
// installs its reader at start-up; without one every call gives the caller's
// default, so the toolkit works (unskinned) in tests and before start-up.

#include <QColor>
#include <QString>
#include <string>

class ISkinReader {
public:
    virtual ~ISkinReader() = default;
    // "%i,%i,%i" colours; the default when missing or malformed.
    virtual QColor GetSkinColor(const char* section, const char* key, QColor defaultValue) const = 0;
    virtual QString GetSkinString(const char* section, const char* key,
                                  const QString& defaultValue) const = 0;
    // The Res folder, ending in '/'; skin file names are joined to it.
    virtual QString GetResFolder() const = 0;
    // The same folder as the file system names it, which need not be UTF-8
    // (a QString cannot hold such a name).
    virtual std::string GetResFolderPath() const { return GetResFolder().toStdString(); }
};

namespace Skin {

void SetReader(const ISkinReader* reader);
const ISkinReader* Reader();

QColor Color(const char* section, const char* key, QColor defaultValue);
QString String(const char* section, const char* key, const QString& defaultValue = {});
QString ResFolder();
// The Res folder joined with the file named by the key; "" when none.
QString ImagePath(const char* section, const char* key);
// The file-system name of a path: one made from ResFolder() starts with the
// folder's own bytes; the rest, and any other path, in UTF-8.
std::string FilePath(const QString& path);

// The dialogs' colour: "PANORAMA DIALOG" / "BACKGROUND COLOR".
inline constexpr QRgb kDialogDefault = 0xffcbdbf4;  // 203, 219, 244
QColor DialogBackground();

}  // namespace Skin

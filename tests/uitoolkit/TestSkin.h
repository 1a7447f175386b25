#pragma once
// A skin reader for the toolkit's tests: values set in code, pictures from a
// folder (the default skin drawn at build time, or a test's own folder).
#include <QMap>
#include <QTemporaryDir>

#include "Bitmap32.h"
#include "SkinAccess.h"

class TestSkin : public ISkinReader {
public:
    explicit TestSkin(QString folder = QString()) : folder_(std::move(folder)) { Skin::SetReader(this); }
    ~TestSkin() override { Skin::SetReader(nullptr); }
    void Set(const char* section, const char* key, const QString& value) {
        values_[Key(section, key)] = value;
    }

    QColor GetSkinColor(const char* section, const char* key, QColor def) const override {
        const QStringList parts = values_.value(Key(section, key)).split(',');
        if (parts.size() != 3)
            return def;
        return QColor(parts[0].trimmed().toInt(), parts[1].trimmed().toInt(), parts[2].trimmed().toInt());
    }
    QString GetSkinString(const char* section, const char* key, const QString& def) const override {
        return values_.value(Key(section, key), def);
    }
    QString GetResFolder() const override { return folder_.isEmpty() ? QString() : folder_ + "/"; }

private:
    static QString Key(const char* s, const char* k) { return QString(s) + "|" + k; }
    QString folder_;
    QMap<QString, QString> values_;
};

// Writes a 32-bit BMP of one colour into `folder`, returning its path.
inline QString WriteBmp(const QString& folder, const QString& name, QSize size, QRgb argb) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(argb);
    QFile file(folder + "/" + name);
    file.open(QIODevice::WriteOnly);
    file.write(Bitmap32::Encode(image));
    return file.fileName();
}

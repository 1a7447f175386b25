#include "CIconExtractor.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>

CSystemImageList& CSystemImageList::Instance() {
    static CSystemImageList list;
    return list;
}

QIcon CSystemImageList::Icon(int index) const {
    return index >= 0 && index < Count() ? m_icons[static_cast<size_t>(index)].second : QIcon();
}

int CSystemImageList::Count() const {
    return static_cast<int>(m_icons.size());
}

int CSystemImageList::Find(const QString& key) const {
    for (size_t i = 0; i < m_icons.size(); ++i)
        if (m_icons[i].first == key)
            return static_cast<int>(i);
    return -1;
}

int CSystemImageList::Add(const QString& key, const QIcon& icon) {
    m_icons.emplace_back(key, icon);
    return Count() - 1;
}

namespace {

QIcon ProviderIcon(QFileIconProvider::IconType type) {
    static QFileIconProvider provider;
    return provider.icon(type);
}

QIcon StyleIcon(QStyle::StandardPixmap pixmap) {
    return QApplication::style() ? QApplication::style()->standardIcon(pixmap) : QIcon();
}

// The theme's icon when the desktop has one, else the fallback.
QIcon Themed(const char* name, const QIcon& fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), fallback);
}

}  // namespace

int CIconExtractor::PlaceIcon(Place place, bool open) {
    static const char* const kKeys[] = {"folder",   "home",  "desktop",  "pictures",
                                        "computer", "drive", "removable"};
    const QString key = QString::fromLatin1(kKeys[static_cast<int>(place)]) + (open ? "-open" : "");
    return CSystemImageList::Instance().IndexFor(key, [place, open] {
        switch (place) {
            case Place::Home:
                return Themed("user-home", StyleIcon(QStyle::SP_DirHomeIcon));
            case Place::Desktop:
                return Themed("user-desktop", ProviderIcon(QFileIconProvider::Desktop));
            case Place::Pictures:
                return Themed("folder-pictures", ProviderIcon(QFileIconProvider::Folder));
            case Place::Computer:
                return Themed("computer", ProviderIcon(QFileIconProvider::Computer));
            case Place::Drive:
                return Themed("drive-harddisk", ProviderIcon(QFileIconProvider::Drive));
            case Place::Removable:
                return Themed("drive-removable-media", StyleIcon(QStyle::SP_DriveCDIcon));
            case Place::Folder:
                break;
        }
        return open ? Themed("folder-open", StyleIcon(QStyle::SP_DirOpenIcon))
                    : Themed("folder", ProviderIcon(QFileIconProvider::Folder));
    });
}

bool CIconExtractor::GetIcons(const std::string& path, bool open) {
    m_nLargeIndex = m_nSmallIndex = -1;
    const QFileInfo info(QString::fromStdString(path));
    if (path.empty() || !info.exists())
        return false;
    if (info.isDir()) {
        m_nLargeIndex = m_nSmallIndex = PlaceIcon(Place::Folder, open);
        return true;
    }
    // One icon per content type, judged by name first (no read of the file
    // for a known extension).
    static QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(info);
    m_nLargeIndex = m_nSmallIndex = CSystemImageList::Instance().IndexFor("mime:" + type.name(), [&type] {
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(type.genericIconName());
        return icon.isNull() ? ProviderIcon(QFileIconProvider::File) : icon;
    });
    return true;
}

#pragma once
// The icons of files and folders as the desktop shows them, for the file
// list, the folder tree and the visited-folders strip. Icons live in one
// process-wide list (the "system image list"); a file's icon is an index
// into it, shared by every file of the same kind, so asking for thousands
// of files builds only a handful of icons.

#include <QIcon>
#include <QString>

#include <string>
#include <vector>

// The shared icon list. Indexes stay valid for the whole run.
class CSystemImageList {
public:
    static CSystemImageList& Instance();
    // The icon at index, or a null icon.
    QIcon Icon(int index) const;
    int Count() const;
    // The index of the icon made for key, made once by make.
    template <typename Make>
    int IndexFor(const QString& key, Make make);

private:
    int Find(const QString& key) const;
    int Add(const QString& key, const QIcon& icon);
    std::vector<std::pair<QString, QIcon>> m_icons;
};

template <typename Make>
int CSystemImageList::IndexFor(const QString& key, Make make) {
    const int found = Find(key);
    return found >= 0 ? found : Add(key, make());
}

class CIconExtractor {
public:
    // Special places with an icon of their own.
    enum class Place { Folder, Home, Desktop, Pictures, Computer, Drive, Removable };

    CIconExtractor() = default;
    virtual ~CIconExtractor() = default;

    // Looks path up on disk (a folder or a file by its content type) and
    // takes its icon; open asks for the opened look of a folder. False, both
    // indexes -1, when the path does not exist.
    bool GetIcons(const std::string& path, bool open);
    // The same for a file that is asked for as a normal file.
    bool GetFileIcon(const std::string& path, bool open) { return GetIcons(path, open); }
    // The icon of a special place (open: its selected look).
    static int PlaceIcon(Place place, bool open);

    int LargeIndex() const { return m_nLargeIndex; }
    int SmallIndex() const { return m_nSmallIndex; }
    QIcon LargeIcon() const { return CSystemImageList::Instance().Icon(m_nLargeIndex); }
    QIcon SmallIcon() const { return CSystemImageList::Instance().Icon(m_nSmallIndex); }
    // Both sizes come from the one shared list (a QIcon holds every size).
    static const CSystemImageList& GetSmallImageList() { return CSystemImageList::Instance(); }

private:
    int m_nLargeIndex = -1;
    int m_nSmallIndex = -1;
};

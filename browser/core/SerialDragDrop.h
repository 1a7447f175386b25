#pragma once
// Objects that travel between windows by drag and drop: the offering side
// writes the data source object itself with the project's archive under a
// private format; the receiving side reads it back and lets that copy decide
// the drag-over action and carry out the drop. The same receiver reads
// plain file lists (text/uri-list).
//
// Only classes registered here as data sources can be read back: bytes
// under the format from anywhere else give no object.

#include <QMimeData>
#include <QPoint>
#include <QString>
#include <Qt>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Archive.h"

class QWidget;

// The private format; the same name in every process of the program.
QString SerialClipFormat();
// The file-list format.
QString FileListFormat();

class CSerialDataSource {
public:
    virtual ~CSerialDataSource() = default;

    virtual std::string_view ClassName() const = 0;
    virtual std::uint16_t Schema() const { return 1; }
    virtual void Serialize(Archive::Writer& ar) const = 0;
    virtual void Serialize(Archive::Reader& ar) = 0;

    virtual bool IsSerialFormat(const QString& format) const = 0;
    // Called on the copy read back by the receiver.
    virtual Qt::DropAction OnSerialDragOver(QWidget* under, QWidget* target, Qt::KeyboardModifiers keys,
                                            const QPoint& point) = 0;
    virtual bool OnSerialDrop(QWidget* under, QWidget* target, Qt::DropAction action,
                              const QPoint& point) = 0;

    // The archive bytes of this object: its class tag, then its serialisation.
    std::vector<std::uint8_t> Render() const;
    // Mime data offering this object under every format it renders.
    QMimeData* MakeMimeData(const std::vector<QString>& formats) const;

    using Factory = std::function<std::unique_ptr<CSerialDataSource>()>;
    // Makes a class readable from the archive.
    static void RegisterClass(const std::string& name, Factory factory);
    // One object read from archive bytes, or null for anything damaged,
    // foreign or of a class not registered.
    static std::unique_ptr<CSerialDataSource> ReadObject(const QByteArray& bytes);
};

class CSerialObject;

// A list of objects of their own serialisation. The sender's list borrows
// its objects; a copy read back owns (and deletes) them. Entries may be null
// (the archive's null object).
class CObListDataSource : public CSerialDataSource {
public:
    static constexpr const char* kClassName = "CObListDataSource";

    CObListDataSource() = default;
    ~CObListDataSource() override;
    CObListDataSource(const CObListDataSource&) = delete;
    CObListDataSource& operator=(const CObListDataSource&) = delete;

    std::string_view ClassName() const override { return kClassName; }
    void Serialize(Archive::Writer& ar) const override;
    void Serialize(Archive::Reader& ar) override;
    bool IsSerialFormat(const QString& format) const override {
        return !m_format.isEmpty() && format == m_format;
    }
    Qt::DropAction OnSerialDragOver(QWidget*, QWidget*, Qt::KeyboardModifiers, const QPoint&) override {
        return Qt::IgnoreAction;
    }
    bool OnSerialDrop(QWidget*, QWidget*, Qt::DropAction, const QPoint&) override { return false; }

    void SetFormat(const QString& format) { m_format = format; }
    void Add(CSerialObject* object) { m_objects.push_back(object); }
    const std::vector<CSerialObject*>& Objects() const { return m_objects; }
    bool OwnsObjects() const { return m_ownsObjects; }

private:
    bool m_ownsObjects = false;
    std::vector<CSerialObject*> m_objects;
    QString m_format;
};

// An object a CObListDataSource can carry.
class CSerialObject {
public:
    virtual ~CSerialObject() = default;
    virtual std::string_view ClassName() const = 0;
    virtual std::uint16_t Schema() const { return 1; }
    virtual void Serialize(Archive::Writer& ar) const = 0;
    virtual void Serialize(Archive::Reader& ar) = 0;

    using Factory = std::function<std::unique_ptr<CSerialObject>()>;
    static void RegisterClass(const std::string& name, Factory factory);
    static std::unique_ptr<CSerialObject> Create(const std::string& name);
};

class CSerialDropTarget {
public:
    virtual ~CSerialDropTarget() = default;

    // Appends the format unless it is there already (then nothing happens).
    void AddFormat(const QString& format, bool serial);
    // The first accepted format, in the order added, that the data offers.
    bool FindAvailableFormat(const QMimeData* data, QString& format) const;
    bool IsSerialFormatAvailable(const QMimeData* data, QString& format) const;
    std::unique_ptr<CSerialDataSource> ReadSerialObject(const QMimeData* data, QString& format) const;
    // Appends the dropped local files in drop order; whether the list holds any.
    static bool GetDroppedFiles(const QMimeData* data, std::vector<std::string>& files);

    virtual Qt::DropAction OnDragOver(QWidget* under, const QMimeData* data, Qt::KeyboardModifiers keys,
                                      const QPoint& point);
    Qt::DropAction OnDragEnter(QWidget* under, const QMimeData* data, Qt::KeyboardModifiers keys,
                               const QPoint& point) {
        return OnDragOver(under, data, keys, point);
    }
    virtual bool OnDrop(QWidget* under, const QMimeData* data, Qt::DropAction action, const QPoint& point);
    virtual void OnDragLeave() {}

    // The window the target is registered on.
    void SetWindow(QWidget* window) { m_window = window; }
    QWidget* Window() const { return m_window; }

private:
    std::vector<QString> m_formats;
    std::vector<QString> m_serialFormats;
    QWidget* m_window = nullptr;
};

#include "SerialDragDrop.h"

#include <QUrl>

#include <algorithm>
#include <map>
#include <mutex>

#include "QtFileUrls.h"

namespace {

template <class Factory>
struct Registry {
    std::mutex lock;
    std::map<std::string, Factory, std::less<>> factories;

    void Add(const std::string& name, Factory factory) {
        std::lock_guard<std::mutex> guard(lock);
        factories[name] = std::move(factory);
    }
    Factory Find(const std::string& name) {
        std::lock_guard<std::mutex> guard(lock);
        const auto it = factories.find(name);
        return it == factories.end() ? Factory() : it->second;
    }
};

Registry<CSerialDataSource::Factory>& Sources() {
    static Registry<CSerialDataSource::Factory> registry;
    return registry;
}

Registry<CSerialObject::Factory>& Objects() {
    static Registry<CSerialObject::Factory> registry;
    return registry;
}

const bool g_obListRegistered = [] {
    CSerialDataSource::RegisterClass(CObListDataSource::kClassName,
                                     [] { return std::make_unique<CObListDataSource>(); });
    return true;
}();

}  // namespace

QString SerialClipFormat() {
    return QStringLiteral("application/x-ovhorizel-{4B8BADD8-1D0C-4a61-9788-220589BEBA8E}");
}

QString FileListFormat() {
    return QStringLiteral("text/uri-list");
}

std::vector<std::uint8_t> CSerialDataSource::Render() const {
    Archive::Writer writer;
    writer.WriteObjectTag(ClassName(), Schema());
    Serialize(writer);
    return writer.Bytes();
}

QMimeData* CSerialDataSource::MakeMimeData(const std::vector<QString>& formats) const {
    auto* data = new QMimeData;
    const std::vector<std::uint8_t> bytes = Render();
    const QByteArray block(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    for (const QString& format : formats)
        if (IsSerialFormat(format))
            data->setData(format, block);
    return data;
}

void CSerialDataSource::RegisterClass(const std::string& name, Factory factory) {
    Sources().Add(name, std::move(factory));
}

std::unique_ptr<CSerialDataSource> CSerialDataSource::ReadObject(const QByteArray& bytes) {
    try {
        Archive::Reader reader(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()));
        std::string name;
        if (!reader.ReadAnyObjectTag(name))
            return nullptr;
        // Only our own data sources: anything else may not have its
        // operations called on it.
        const Factory factory = Sources().Find(name);
        if (!factory)
            return nullptr;
        std::unique_ptr<CSerialDataSource> object = factory();
        object->Serialize(reader);
        return object;
    } catch (...) {
        return nullptr;
    }
}

CObListDataSource::~CObListDataSource() {
    if (m_ownsObjects)
        for (CSerialObject* object : m_objects)
            delete object;
}

void CObListDataSource::Serialize(Archive::Writer& ar) const {
    ar.WriteCount(static_cast<std::uint32_t>(m_objects.size()));
    for (const CSerialObject* object : m_objects) {
        // A list read back keeps the null objects it came with.
        if (!object) {
            ar.WriteWord(0);
            continue;
        }
        ar.WriteObjectTag(object->ClassName(), object->Schema());
        object->Serialize(ar);
    }
}

void CObListDataSource::Serialize(Archive::Reader& ar) {
    std::vector<std::unique_ptr<CSerialObject>> objects;
    // Every object takes at least its two-byte tag.
    const std::uint32_t count = ar.ReadCount(2);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string name;
        if (!ar.ReadAnyObjectTag(name)) {
            objects.push_back(nullptr);
            continue;
        }
        std::unique_ptr<CSerialObject> object = CSerialObject::Create(name);
        if (!object)
            throw Archive::ArchiveBad("unknown class " + name);
        object->Serialize(ar);
        objects.push_back(std::move(object));
    }
    if (m_ownsObjects)
        for (CSerialObject* object : m_objects)
            delete object;
    m_objects.clear();
    for (auto& object : objects)
        m_objects.push_back(object.release());
    m_ownsObjects = true;
}

void CSerialObject::RegisterClass(const std::string& name, Factory factory) {
    Objects().Add(name, std::move(factory));
}

std::unique_ptr<CSerialObject> CSerialObject::Create(const std::string& name) {
    const Factory factory = Objects().Find(name);
    return factory ? factory() : nullptr;
}

void CSerialDropTarget::AddFormat(const QString& format, bool serial) {
    if (std::find(m_formats.begin(), m_formats.end(), format) != m_formats.end())
        return;
    m_formats.push_back(format);
    if (serial)
        m_serialFormats.push_back(format);
}

bool CSerialDropTarget::FindAvailableFormat(const QMimeData* data, QString& format) const {
    format.clear();
    if (!data)
        return false;
    for (const QString& candidate : m_formats) {
        if (data->hasFormat(candidate)) {
            format = candidate;
            return true;
        }
    }
    return false;
}

bool CSerialDropTarget::IsSerialFormatAvailable(const QMimeData* data, QString& format) const {
    return FindAvailableFormat(data, format) &&
           std::find(m_serialFormats.begin(), m_serialFormats.end(), format) != m_serialFormats.end();
}

std::unique_ptr<CSerialDataSource> CSerialDropTarget::ReadSerialObject(const QMimeData* data,
                                                                       QString& format) const {
    if (!IsSerialFormatAvailable(data, format))
        return nullptr;
    return CSerialDataSource::ReadObject(data->data(format));
}

bool CSerialDropTarget::GetDroppedFiles(const QMimeData* data, std::vector<std::string>& files) {
    if (!data || !data->hasFormat(FileListFormat()))
        return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files.push_back(Platform::LocalPathOfUrl(url));
    return !files.empty();
}

Qt::DropAction CSerialDropTarget::OnDragOver(QWidget* under, const QMimeData* data,
                                             Qt::KeyboardModifiers keys, const QPoint& point) {
    QString format;
    std::unique_ptr<CSerialDataSource> object = ReadSerialObject(data, format);
    return object ? object->OnSerialDragOver(under, m_window, keys, point) : Qt::IgnoreAction;
}

bool CSerialDropTarget::OnDrop(QWidget* under, const QMimeData* data, Qt::DropAction action,
                               const QPoint& point) {
    QString format;
    std::unique_ptr<CSerialDataSource> object = ReadSerialObject(data, format);
    return object && object->OnSerialDrop(under, m_window, action, point);
}

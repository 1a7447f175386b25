// The photo list as the project archive stores it, and the drag data the
// photo strip reads back (the photo list in its data source, and lists of
// objects), each read and written back.
#include <QByteArray>

#include "CClipDescription.h"
#include "FuzzTarget.h"
#include "SerialDragDrop.h"

namespace {

// What the photo strip offers and reads back: copies of photos in their list.
class PhotoDrag : public CSerialDataSource {
public:
    std::string_view ClassName() const override { return "CClipDataSource"; }
    void Serialize(Archive::Writer& ar) const override { photos.Serialize(ar); }
    void Serialize(Archive::Reader& ar) override { photos.Serialize(ar); }
    bool IsSerialFormat(const QString& format) const override { return format == SerialClipFormat(); }
    Qt::DropAction OnSerialDragOver(QWidget*, QWidget*, Qt::KeyboardModifiers, const QPoint&) override {
        return Qt::IgnoreAction;
    }
    bool OnSerialDrop(QWidget*, QWidget*, Qt::DropAction, const QPoint&) override { return false; }
    CClipDescriptionList photos;
};

const bool g_registered = [] {
    CSerialDataSource::RegisterClass("CClipDataSource", [] { return std::make_unique<PhotoDrag>(); });
    return true;
}();

void Fill(CClipDescriptionList& list) {
    list.AddPath("/photos/pano/IMG_0001.JPG")->SetValid(true);
    list.AddPath("/photos/pano/IMG_0002.JPG");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        Archive::Reader reader(data, size, "/photos/pano/project.ovh");
        CClipDescriptionList list;
        list.Serialize(reader);
        Archive::Writer writer;
        list.Serialize(writer);
    } catch (...) {
        // A damaged archive ends in the archive's exception.
    }
    if (auto object =
            CSerialDataSource::ReadObject(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))))
        object->Render();
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    CClipDescriptionList list;
    Fill(list);
    Archive::Writer archive;
    list.Serialize(archive);
    PhotoDrag drag;
    Fill(drag.photos);
    CObListDataSource objects;
    return {
        {"list.bin", archive.Bytes()}, {"drag.bin", drag.Render()}, {"empty-objects.bin", objects.Render()}};
}

// Objects carried between windows under the private format, and file lists.

#include <gtest/gtest.h>

#include <QMimeData>
#include <QUrl>

#include "CPath.h"
#include "SerialDragDrop.h"

namespace {

int g_alive = 0;

class Note : public CSerialObject {
public:
    Note() { ++g_alive; }
    explicit Note(std::string text) : text(std::move(text)) { ++g_alive; }
    ~Note() override { --g_alive; }
    std::string_view ClassName() const override { return "Note"; }
    void Serialize(Archive::Writer& ar) const override {
        ar.WriteString(text);
        SerializeReserved(ar, 4);
    }
    void Serialize(Archive::Reader& ar) override {
        text = ar.ReadString();
        SerializeReserved(ar, 4);
    }
    std::string text;
};

const bool g_registered = [] {
    CSerialObject::RegisterClass("Note", [] { return std::make_unique<Note>(); });
    return true;
}();

QByteArray Bytes(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

}  // namespace

TEST(SerialDragDrop, ObjectListRoundTripsAndOnlyTheCopyOwns) {
    Note a("first"), b("second");
    std::unique_ptr<QMimeData> data;
    {
        CObListDataSource sender;
        sender.SetFormat(SerialClipFormat());
        sender.Add(&a);
        sender.Add(&b);
        data.reset(sender.MakeMimeData({SerialClipFormat(), FileListFormat()}));
        EXPECT_FALSE(data->hasFormat(FileListFormat()));
    }
    EXPECT_EQ(g_alive, 2) << "the sender does not delete what it lists";

    CSerialDropTarget target;
    target.AddFormat(SerialClipFormat(), true);
    QString format;
    std::unique_ptr<CSerialDataSource> copy = target.ReadSerialObject(data.get(), format);
    ASSERT_TRUE(copy);
    EXPECT_EQ(format, SerialClipFormat());
    auto* list = dynamic_cast<CObListDataSource*>(copy.get());
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->OwnsObjects());
    ASSERT_EQ(list->Objects().size(), 2u);
    EXPECT_EQ(static_cast<Note*>(list->Objects()[1])->text, "second");
    EXPECT_EQ(g_alive, 4);
    copy.reset();
    EXPECT_EQ(g_alive, 2) << "the copy deletes its objects";
}

TEST(SerialDragDrop, DamagedOrForeignBlocksGiveNoObject) {
    Note a("only");
    CObListDataSource sender;
    sender.Add(&a);
    const std::vector<uint8_t> good = sender.Render();
    ASSERT_TRUE(CSerialDataSource::ReadObject(Bytes(good)));

    Archive::Writer otherKind;  // a class that exists but is no data source
    otherKind.WriteObjectTag("Note", 1);
    otherKind.WriteString("x");
    Archive::Writer huge;
    huge.WriteObjectTag(CObListDataSource::kClassName, 1);
    huge.WriteCount(0xFFFFFFF0u);
    Archive::Writer unknownItem;
    unknownItem.WriteObjectTag(CObListDataSource::kClassName, 1);
    unknownItem.WriteCount(1);
    unknownItem.WriteObjectTag("Stranger", 1);

    std::vector<std::pair<std::string, QByteArray>> cases = {
        {"empty", QByteArray()},
        {"text", QByteArray("file:///etc/passwd\r\n")},
        {"another kind of class", Bytes(otherKind.Bytes())},
        {"huge count", Bytes(huge.Bytes())},
        {"unknown item class", Bytes(unknownItem.Bytes())},
    };
    for (size_t n = 0; n < good.size(); ++n)
        cases.push_back({"truncated at " + std::to_string(n), Bytes(good).left(static_cast<qsizetype>(n))});
    for (const auto& [name, bytes] : cases)
        EXPECT_FALSE(CSerialDataSource::ReadObject(bytes)) << name;
    EXPECT_EQ(g_alive, 1) << "nothing half-read is left behind";
}

TEST(SerialDragDrop, FormatsInTheOrderAddedAndFileLists) {
    CSerialDropTarget target;
    target.AddFormat(FileListFormat(), false);
    target.AddFormat(SerialClipFormat(), true);
    target.AddFormat(FileListFormat(), true);  // already there: stays non-serial

    Note a("n");
    CObListDataSource sender;
    sender.SetFormat(SerialClipFormat());
    sender.Add(&a);
    std::unique_ptr<QMimeData> both(sender.MakeMimeData({SerialClipFormat()}));
    both->setUrls({QUrl::fromLocalFile("/photos/a.jpg"), QUrl("https://example.com/b.jpg"),
                   QUrl::fromLocalFile("/photos/c d.jpg")});
    QString format;
    EXPECT_TRUE(target.FindAvailableFormat(both.get(), format));
    EXPECT_EQ(format, FileListFormat());
    EXPECT_FALSE(target.IsSerialFormatAvailable(both.get(), format));
    EXPECT_FALSE(target.ReadSerialObject(both.get(), format));

    std::vector<std::string> files = {"kept"};
    EXPECT_TRUE(CSerialDropTarget::GetDroppedFiles(both.get(), files));
    EXPECT_EQ(files, (std::vector<std::string>{"kept", "/photos/a.jpg", "/photos/c d.jpg"}));

    QMimeData none;
    none.setUrls({});
    std::vector<std::string> empty;
    EXPECT_FALSE(CSerialDropTarget::GetDroppedFiles(&none, empty));
}

TEST(SerialDragDrop, NullObjectsInAListReadBackAndRenderAgain) {
    Archive::Writer withNull;
    withNull.WriteObjectTag(CObListDataSource::kClassName, 1);
    withNull.WriteCount(3);
    withNull.WriteWord(0);  // the archive's null object
    withNull.WriteObjectTag("Note", 1);
    Note("kept").Serialize(withNull);
    withNull.WriteWord(0);
    std::unique_ptr<CSerialDataSource> copy = CSerialDataSource::ReadObject(Bytes(withNull.Bytes()));
    ASSERT_TRUE(copy);
    const auto& objects = static_cast<CObListDataSource*>(copy.get())->Objects();
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0], nullptr);
    EXPECT_EQ(static_cast<Note*>(objects[1])->text, "kept");
    EXPECT_EQ(copy->Render(), withNull.Bytes()) << "a copy read back is offered again as it came";
}

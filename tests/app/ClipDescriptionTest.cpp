#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Archive.h"
#include "CClipDescription.h"
#include "DocTestSupport.h"

namespace {

std::vector<std::string> Paths(const CClipDescriptionList& list) {
    std::vector<std::string> paths;
    list.CollectPaths(paths);
    return paths;
}

std::vector<std::uint8_t> Store(const CClipDescriptionList& list) {
    Archive::Writer w;
    list.Serialize(w);
    return w.Bytes();
}

}  // namespace

TEST(CClipDescription, ArchivesAsPathValidByteAndReservedBytes) {
    CClipDescription photo("/p/a.jpg");
    photo.SetValid(true);
    photo.SetMarked(true);
    Archive::Writer w;
    photo.Serialize(w);
    std::vector<std::uint8_t> expected = {8, '/', 'p', '/', 'a', '.', 'j', 'p', 'g', 1};
    expected.resize(expected.size() + 127, 0);
    EXPECT_EQ(w.Bytes(), expected);
}

TEST(CClipDescriptionList, ArchivesAsCountObjectsAndReservedBytes) {
    CClipDescriptionList list;
    list.AddPath("/p/a.jpg")->SetValid(true);
    list.AddPath("/p/b.jpg");
    const std::vector<std::uint8_t> bytes = Store(list);
    std::vector<std::uint8_t> expected = {2, 0, 0xFF, 0xFF, 1, 0, 16, 0};
    for (char c : std::string("CClipDescription"))
        expected.push_back(static_cast<std::uint8_t>(c));
    for (int i : {0, 1}) {
        if (i == 1)
            expected.insert(expected.end(), {0x01, 0x80});  // the class again, by reference
        expected.push_back(8);
        for (char c : std::string(i == 0 ? "/p/a.jpg" : "/p/b.jpg"))
            expected.push_back(static_cast<std::uint8_t>(c));
        expected.push_back(i == 0 ? 1 : 0);
        expected.resize(expected.size() + 127, 0);
    }
    expected.resize(expected.size() + 128, 0);
    EXPECT_EQ(bytes, expected);

    // Loaded photos get new ids and no marks; the old photos are replaced.
    CClipDescriptionList loaded;
    loaded.AddPath("/old.jpg");
    const std::int32_t firstId = list.begin()->get()->GetId();
    Archive::Reader r(bytes);
    loaded.Serialize(r);
    EXPECT_EQ(r.Remaining(), 0u);
    ASSERT_EQ(Paths(loaded), (std::vector<std::string>{"/p/a.jpg", "/p/b.jpg"}));
    EXPECT_TRUE(loaded.begin()->get()->IsValid());
    EXPECT_FALSE(loaded.begin()->get()->IsMarked());
    EXPECT_NE(loaded.begin()->get()->GetId(), firstId);
}

TEST(CClipDescriptionList, TruncatedOrForgedBytesInsertNothing) {
    CClipDescriptionList list;
    list.AddPath("/p/a.jpg");
    list.AddPath("/p/b.jpg");
    const std::vector<std::uint8_t> bytes = Store(list);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        CClipDescriptionList target;
        target.AddPath("/keep.jpg");
        Archive::Reader r(bytes.data(), n);
        EXPECT_THROW(target.Serialize(r), std::runtime_error) << n;
        EXPECT_EQ(Paths(target), std::vector<std::string>{"/keep.jpg"}) << n;
    }
    // A count that promises far more photos than the bytes hold.
    std::vector<std::uint8_t> forged = bytes;
    forged[0] = 0xFE;
    forged[1] = 0xFF;
    CClipDescriptionList target;
    Archive::Reader r(forged);
    EXPECT_THROW(target.Serialize(r), Archive::ArchiveEof);
    EXPECT_TRUE(target.IsEmpty());
}

TEST(CClipDescriptionList, CopiesMovesAndLookups) {
    CClipDescriptionList list;
    for (const char* p : {"/a", "/b", "/c", "/d", "/b"})
        list.AddPath(p);
    EXPECT_EQ(list.FindByPath("/b"), std::next(list.begin())->get());
    EXPECT_EQ(list.FindByPath("/B"), nullptr);  // exact comparison

    // Move /b../c in front of /e's predecessor /d... then a range onto itself does nothing.
    auto b = std::next(list.begin());
    auto c = std::next(b);
    auto e = std::prev(list.end());
    list.MoveRange(b, c, e);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"/a", "/d", "/b", "/c", "/b"}));
    list.MoveRange(list.begin(), list.begin(), list.begin());
    list.MoveRange(list.begin(), std::next(list.begin()), std::next(list.begin()));
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"/a", "/d", "/b", "/c", "/b"}));
    list.MoveRange(std::prev(list.end()), list.end(), list.begin());
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"/b", "/a", "/d", "/b", "/c"}));

    CClipDescriptionList copies;
    copies.AppendCopies(list);
    EXPECT_EQ(Paths(copies), Paths(list));
    EXPECT_NE(copies.begin()->get()->GetId(), list.begin()->get()->GetId());

    CClipDescriptionList order, target;
    order.AddPath("/c");
    order.AddPath("/a");
    order.AddPath("/zz");
    order.TakeMatching(copies, target);
    EXPECT_EQ(Paths(target), (std::vector<std::string>{"/c", "/a"}));
    EXPECT_EQ(Paths(copies), (std::vector<std::string>{"/b", "/d", "/b"}));
}

TEST(CClipDescriptionList, RemoveUnreadableKeepsPhotosOnceFoundValid) {
    TestDoubles::DocEnvironment env;
    const std::string good = env.Photo("good.jpg");
    const std::string gone = env.Photo("gone.png");
    std::ofstream(env.scratch / "empty.jpg").flush();
    CClipDescriptionList list;
    std::vector<CClipDescription*> added;
    list.AddFiles({good, env.scratch / "photo.gif", env.scratch / "empty.jpg", gone, env.scratch / "x.ps"},
                  &added);
    EXPECT_EQ(Paths(list), (std::vector<std::string>{good, gone}));
    ASSERT_EQ(added.size(), 2u);
    EXPECT_TRUE(added[0]->IsValid() && added[0]->IsTested());
    // A photo found valid once stays when its file goes.
    std::filesystem::remove(gone);
    list.RemoveUnreadable(nullptr);
    EXPECT_EQ(list.GetCount(), 2u);
}

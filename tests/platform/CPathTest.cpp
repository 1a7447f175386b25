#include <gtest/gtest.h>

#include "Archive.h"
#include "CPath.h"

TEST(CPath, ParsesIntoRootFolderTitleAndExtension) {
    struct Case {
        const char* path;
        const char* root;
        const char* directory;
        const char* title;
        const char* extension;
    };
    const Case cases[] = {
        {"/photos/a.jpg", "/", "photos/", "a", ".jpg"},
        {"/home/ann/IMG.0001.JPG", "/", "home/ann/", "IMG.0001", ".JPG"},
        {"photos.old/readme", "", "photos.old/", "readme", ""},
        {"b.tif", "", "", "b", ".tif"},
        {"/", "/", "", "", ""},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        const CPath p(c.path);
        EXPECT_EQ(p.GetRoot(), c.root) << c.path;
        EXPECT_EQ(p.GetDirectory(), c.directory) << c.path;
        EXPECT_EQ(p.GetTitle(), c.title) << c.path;
        EXPECT_EQ(p.GetExtension(), c.extension) << c.path;
        EXPECT_EQ(p.GetFolder() + p.GetFileName(), c.path) << c.path;
    }
}

TEST(CPath, StoresRelativeToTheDocumentFolderAndLoadsBackAbsolute) {
    Archive::Writer w("/home/ann/pano/project.ovh");
    CPath("/home/ann/pano/img/1.jpg").Serialize(w);
    CPath("/mnt/other/2.jpg").Serialize(w);
    Archive::Reader plain(w.Bytes());
    EXPECT_EQ(plain.ReadString(), "img/1.jpg");
    EXPECT_EQ(plain.ReadString(), "/mnt/other/2.jpg");

    Archive::Reader moved(w.Bytes(), "/moved/project.ovh");
    CPath first, second;
    first.Serialize(moved);
    second.Serialize(moved);
    EXPECT_EQ(first.GetPath(), "/moved/img/1.jpg");
    EXPECT_EQ(first.GetFileName(), "1.jpg");
    EXPECT_EQ(second.GetPath(), "/mnt/other/2.jpg");
}

TEST(CPath, ARelativePathKeepsItsFoldersWhenMadeRelative) {
    CPath p("sub/a.jpg");
    p.MakeRelativeTo("/work/doc.ovh");
    EXPECT_EQ(p.GetPath(), "/work/sub/a.jpg");
}

TEST(CPath, WithoutADocumentThePathIsStoredWhole) {
    Archive::Writer w;
    CPath("/a/b.jpg").Serialize(w);
    Archive::Reader r(w.Bytes());
    CPath loaded;
    loaded.Serialize(r);
    EXPECT_EQ(loaded.GetPath(), "/a/b.jpg");
    EXPECT_EQ(loaded.GetDirectory(), "a/");
}

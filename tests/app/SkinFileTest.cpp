#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "AppSettings.h"
#include "SkinFile.h"

namespace {

std::string WriteSkin(const QTemporaryDir& dir, const QByteArray& text) {
    const QString path = dir.path() + "/resourses.ini";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path.toStdString();
}

}  // namespace

TEST(SkinFile, ColoursParseLikeTheSkinAlwaysDid) {
    const SkinRgb def{1, 2, 3};
    struct Case {
        const char* text;
        SkinRgb expected;
    };
    const Case cases[] = {
        {"255,0,0", {255, 0, 0}},
        {" 255, 0, 0", {255, 0, 0}},
        {"0xff,0,0", {255, 0, 0}},
        {"0x10,010,16", {16, 8, 16}},
        {"300,0,0", {44, 0, 0}},
        {"10,20,300", {10, 20, 44}},
        {"-1,0,0", {255, 0, 0}},
        {"255,0", def},
        {"", def},
        {"red", def},
        {"1 ,2,3", def},
        {"99999999999999999999,1,2", {255, 1, 2}},
    };
    for (const Case& c : cases) {
        SkinRgb rgb = def;
        if (!CSkinFile::ParseColor(c.text, rgb))
            rgb = def;
        EXPECT_EQ(rgb, c.expected) << c.text;
    }
}

TEST(SkinFile, ReadsValuesAndFallsBackToDefaults) {
    QTemporaryDir dir;
    const std::string path =
        WriteSkin(dir,
                  "[PANORAMA DIALOG]\nBACKGROUND COLOR=10, 20, 30\n[MAIN]\nXBUTTON=x.bmp\n"
                  "LONG=" +
                      QByteArray(400, 'a') + "\n[MARKERS]\nhotpoint1=11,11\n");
    const CSkinFile skin(path);
    EXPECT_EQ(skin.GetSkinColor("panorama dialog", "background color", {}), (SkinRgb{10, 20, 30}));
    EXPECT_EQ(skin.GetSkinColor("TASK TABS", "SELECT COLOR", {0, 255, 0}), (SkinRgb{0, 255, 0}));
    EXPECT_EQ(skin.GetSkinString("MAIN", "LONG").size(), CSkinFile::kMaxValue);
    EXPECT_EQ(skin.GetSkinString("MARKERS", "hotpoint1"), "11,11");
    EXPECT_EQ(skin.GetSkinString("MAIN", "NONE", "dflt"), "dflt");
    EXPECT_EQ(skin.GetSkinImagePath("/res/", "MAIN", "XBUTTON"), "/res/x.bmp");
    EXPECT_EQ(skin.GetSkinImagePath("/res/", "MAIN", "NONE"), "");

    const CSkinFile missing(dir.path().toStdString() + "/none.ini");
    EXPECT_EQ(missing.GetSkinColor("PANORAMA DIALOG", "BACKGROUND COLOR", {203, 219, 244}),
              (SkinRgb{203, 219, 244}));
    EXPECT_EQ(missing.GetSkinString("A", "B", "c"), "c");
}

TEST(SkinFile, GarbageSkinFilesGiveDefaults) {
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char((i * 7919) & 0xff));
    for (const QByteArray& text : {binary, QByteArray("[[[\n=\n[BROWSER\nTEXT COLOR\n\0\0\0", 28),
                                   QByteArray("[BROWSER]\nTEXT COLOR=1, 2\nBORDER COLOR=x\n")}) {
        QTemporaryDir dir;
        const CSkinFile skin(WriteSkin(dir, text));
        EXPECT_EQ(skin.GetSkinColor("PANORAMA DIALOG", "BACKGROUND COLOR", {203, 219, 244}),
                  (SkinRgb{203, 219, 244}));
        const BrowserColors colors = BrowserColors::Load(skin);
        // Half-parsed browser colours take their default text's colour.
        EXPECT_EQ(colors.text, (SkinRgb{0, 0, 0}));
        EXPECT_EQ(colors.border, (SkinRgb{122, 157, 227}));
        EXPECT_EQ(colors.background, (SkinRgb{203, 219, 244}));
    }
}

TEST(SkinFile, TrailingSeparators) {
    struct Case {
        const char* in;
        const char* added;
        const char* removed;
    };
    const Case cases[] = {
        {"/dir", "/dir/", "/dir"},
        {"/dir/", "/dir/", "/dir"},
        {"name", "name/", "name"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string a = c.in, r = c.in;
        AddTrailingBackslash(a);
        RemoveTrailingBackslash(r);
        EXPECT_EQ(a, c.added) << c.in;
        EXPECT_EQ(r, c.removed) << c.in;
    }
}

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "AppSettings.h"
#include "Profile.h"

namespace {

// Points the profile at a fresh file for one test.
struct TempProfile {
    QTemporaryDir dir;
    std::string path = dir.path().toStdString() + "/ORVEX Horizel/OvHorizel.ini";
    TempProfile() { AppProfile::SetPath(path); }
    void Write(const QByteArray& bytes) const {
        QDir().mkpath(dir.path() + "/ORVEX Horizel");
        QFile f(QString::fromStdString(path));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        f.close();
        AppProfile::SetPath(path);  // read the file as written
    }
};

}  // namespace

TEST(AppSettings, FreshProfileGetsTheDefaultsAfterARun) {
    TempProfile profile;
    CAppSettings settings;
    settings.LoadSettings();
    EXPECT_EQ(settings.thumbnailSize, 57);
    EXPECT_EQ(settings.m_nJpegQuality, 75);
    EXPECT_EQ(settings.m_nSortMode, 7);
    EXPECT_EQ(settings.m_print.inchUnits, 1);
    EXPECT_EQ(settings.m_print.printMarkers, 1);
    settings.SaveSettings();
    struct Expected {
        const ProfileKeys::IntValue& v;
        int value;
    };
    const Expected written[] = {
        {ProfileKeys::kNotFirstLaunch, 1}, {ProfileKeys::kThumbsZoom, 57},
        {ProfileKeys::kJpegQuality, 75},   {ProfileKeys::kSort, 7},
        {ProfileKeys::kShowHowToSave, 1},  {ProfileKeys::kShowPromptOnSave, 1},
        {ProfileKeys::kAutoLaunch, 1},     {ProfileKeys::kContinueOnExit, 0},
    };
    for (const Expected& e : written)
        EXPECT_EQ(AppProfile::GetProfileInt(e.v.section, e.v.key, -99), e.value) << e.v.key;
    // The print flags are written where they change, not by the saver.
    EXPECT_EQ(AppProfile::GetProfileInt("PRINT", "INCH_UNITS", -99), -99);
}

TEST(AppSettings, StoredValuesAreReadWithTheirRanges) {
    TempProfile profile;
    profile.Write(
        "[BROWSER]\nTHUMBSZOOM=5000\nJPEGQUALITY=-3\nSORT=5\nDETAILS=1\nVIEWLIST=0\nSHOWINTRAY="
        "0\nCONTINUEONEXIT=1\n"
        "[STITCHING]\nlens type=12\nmotion model=-1\nsurface_tl=7\nld_poltype_tl=1\nHorzVert=0\n");
    CAppSettings settings;
    settings.LoadSettings();
    EXPECT_EQ(settings.thumbnailSize, 100);
    EXPECT_EQ(settings.m_nJpegQuality, 1);
    EXPECT_EQ(settings.m_nSortMode, 7);
    EXPECT_EQ(settings.thumbsListMode, 1) << "DETAILS holds the list mode";
    EXPECT_FALSE(settings.m_bDetailsView) << "VIEWLIST holds the details mode";
    EXPECT_EQ(settings.m_bContinueOnExit, 0) << "ignored while SHOWINTRAY is 0";

    const StitchingProfile s = StitchingProfile::Read();
    EXPECT_EQ(s.lensType, 7);
    EXPECT_EQ(s.motionModel, 2);
    EXPECT_EQ(s.surfaceTl, 0);
    EXPECT_EQ(s.ldPolTypeTl, 1);
    EXPECT_EQ(s.horzVert, 0);
}

TEST(AppSettings, GarbledOrBinaryProfileGivesDefaultsAndIsRewritten) {
    QByteArray binary;
    for (int i = 0; i < 2048; ++i)
        binary.append(char((i * 131 + 7) & 0xff));
    for (const QByteArray& bytes :
         {binary, QByteArray("[BROWSER\nTHUMBSZOOM\n=77\n[BROWSER]\nJPEGQUALITY=abc\n")}) {
        TempProfile profile;
        profile.Write(bytes);
        CAppSettings settings;
        settings.LoadSettings();
        EXPECT_EQ(settings.thumbnailSize, 57);
        EXPECT_EQ(settings.m_nSortMode, 7);
        settings.m_nJpegQuality = 80;
        settings.SaveSettings();
        EXPECT_EQ(AppProfile::GetProfileInt("BROWSER", "JPEGQUALITY", 0), 80);
        EXPECT_EQ(AppProfile::GetProfileInt("GENERAL", "NOTFIRSTLAUNCH", 0), 1);
    }
}

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <set>
#include <string>

#include "Profile.h"
#include "StitchingOptionFields.h"

TEST(StitchingOptionFields, EachFieldFlippedAloneRebuildsExactlyWhenListedSo) {
    std::set<std::string> rebuilding;
    for (const OptionsRecordField& f : kOptionsRecordFields) {
        const HVPanoramaOptions built;
        HVPanoramaOptions wanted = built;
        f.field.Set(wanted, f.field.Get(built) == 0 ? 1 : 0);
        EXPECT_EQ(OptionsNeedRebuild(wanted, built), f.rebuilds) << f.name;
        EXPECT_EQ(OptionsNeedRebuild(built, built), false) << f.name;
        // The flip reached this field and no other listed one.
        for (const OptionsRecordField& other : kOptionsRecordFields)
            EXPECT_EQ(other.field.Get(wanted) != other.field.Get(built), &other == &f)
                << f.name << " / " << other.name;
        if (f.rebuilds)
            rebuilding.insert(f.name);
    }
    // The build reads these; the others are applied later or by nobody.
    EXPECT_EQ(rebuilding, (std::set<std::string>{"is360", "motionModel", "lensCompensation", "lensPresetId",
                                                 "lensModel"}));
    EXPECT_EQ(OptionsRecord::FieldCount<HVPanoramaOptions>(), std::size(kOptionsRecordFields));
}

TEST(StitchingOptionFields, PagesKeepTheirFieldsInTheProfileAndHandOverOnlyThose) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    // Nothing stored: the table's defaults.
    const HVPanoramaOptions fresh = ReadPageOptions(kPlanarPageFields);
    EXPECT_EQ(fresh.motionModel, 2);
    EXPECT_EQ(fresh.lensPresetId, 7);
    EXPECT_EQ(fresh.lensCompensation, 0);

    AppProfile::WriteProfileInt("STITCHING", "lens dist_tl", 5);
    AppProfile::WriteProfileInt("STITCHING", "ld_poltype_tl", 1);
    AppProfile::WriteProfileInt("STITCHING", "surface_tl", 1);
    const HVPanoramaOptions tiled = ReadPageOptions(kTiledPageFields);
    EXPECT_EQ(tiled.lensCompensation, 1) << "a stored flag reads as yes or no";
    EXPECT_EQ(tiled.lensModel, 1);
    EXPECT_EQ(tiled.surfaceKind, 1);

    HVPanoramaOptions planar;
    planar.motionModel = 0;
    planar.lensPresetId = 42;  // kept as the user left it
    planar.is360 = 1;
    planar.lensModel = 1;  // not the planar page's
    WritePageOptions(kPlanarPageFields, planar);
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "motion model", -1), 0);
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "lens type", -1), 42);
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "cyclorama", -1), 1);
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "ld_poltype_tl", -1), 1)
        << "the tiled page's value stays";

    HVPanoramaOptions engine;
    engine.autoCrop = 1;
    engine.lensModel = 0;
    CopyPageOptions(kPlanarPageFields, planar, engine);
    EXPECT_EQ(engine.motionModel, 0);
    EXPECT_EQ(engine.lensPresetId, 42);
    EXPECT_EQ(engine.is360, 1);
    EXPECT_EQ(engine.autoCrop, 1) << "fields the page does not show stay the engine's";
    EXPECT_EQ(engine.lensModel, 0);
}

// The matching markers named by the skin: files joined to the Res folder,
// hot points "x,y", anything unreadable left at 0,0.
#include <gtest/gtest.h>

#include <map>

#include "MarkerSkin.h"

TEST(MarkerSkin, HotPointsAndFiles) {
    const struct {
        const char* text;
        bool ok;
        QPoint point;
    } cases[] = {
        {"11,11", true, {11, 11}}, {" 3, -4", true, {3, -4}}, {"+2,7 trailing", true, {2, 7}},
        {"5", false, {}},          {"5;6", false, {}},        {"a,b", false, {}},
        {"", false, {}},
        {"-2147483648,2147483647", true, {-kMaxHotPointOffset, kMaxHotPointOffset}},
        {"2147483647,-2147483647", true, {kMaxHotPointOffset, -kMaxHotPointOffset}},
        {"99999999999,1", false, {}},
    };
    for (const auto& c : cases) {
        QPoint p(-9, -9);
        EXPECT_EQ(ParseHotPoint(c.text, p), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(p, c.point) << c.text;
        }
    }

    const std::map<std::string, std::string> section = {
        {"marker1", "M1.bmp"}, {"marker3", "M3.bmp"}, {"hotpoint1", "4,5"}, {"hotpoint2", "junk"}};
    const MarkerSkin skin = ReadMarkerSkin(
        [&](std::string_view key) {
            auto it = section.find(std::string(key));
            return it == section.end() ? std::string() : it->second;
        },
        "/res/");
    EXPECT_EQ(skin.files[0], "/res/M1.bmp");
    EXPECT_EQ(skin.files[1], "");
    EXPECT_EQ(skin.files[2], "/res/M3.bmp");
    EXPECT_EQ(skin.hotPoints[0], QPoint(4, 5));
    EXPECT_EQ(skin.hotPoints[1], QPoint(0, 0));
    EXPECT_EQ(skin.hotPoints[2], QPoint(0, 0));
}

#include "MarkerSkin.h"

#include <algorithm>
#include <charconv>

namespace {

// One integer after optional blanks; advances text past it.
bool TakeInt(std::string_view& text, int& out) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (ec != std::errc())
        return false;
    text.remove_prefix(std::size_t(end - text.data()));
    return true;
}

}  // namespace

bool ParseHotPoint(std::string_view text, QPoint& out) {
    int x = 0, y = 0;
    if (!TakeInt(text, x))
        return false;
    if (text.empty() || text.front() != ',')
        return false;
    text.remove_prefix(1);
    if (!TakeInt(text, y))
        return false;
    // Far outside any marker bitmap is as good as at its edge; the bound keeps
    // the marker's rectangle (position less hot point) inside int.
    out = QPoint(std::clamp(x, -kMaxHotPointOffset, kMaxHotPointOffset),
                 std::clamp(y, -kMaxHotPointOffset, kMaxHotPointOffset));
    return true;
}

MarkerSkin ReadMarkerSkin(const std::function<std::string(std::string_view key)>& skinString,
                          std::string_view resFolder) {
    MarkerSkin skin;
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i + 1);
        const std::string file = skinString("marker" + n);
        if (!file.empty())
            skin.files[i] = std::string(resFolder) + file;
        QPoint hot;
        if (ParseHotPoint(skinString("hotpoint" + n), hot))
            skin.hotPoints[i] = hot;
    }
    return skin;
}

#pragma once
// The main frame's menu resource: the menu bar template (one line per item,
// so a new command is one line), the accelerator table its texts and
// shortcuts come from, and the menu toolbar whose icons the items show.

#include <cstdint>
#include <vector>

#include "NewMenu.h"

namespace MainMenu {

// Items whose command has no action yet are left out when the bar is built.
const std::vector<MenuEx::MenuLine>& Template();
const MenuEx::AccelTable& Accelerators();
// The menu toolbar: version, width, height, count, then the button ids.
const std::vector<uint16_t>& ToolBarData();
// Gives `menu` (and its submenus) the menu toolbar's icons from the skin's
// "MENU TOOLBAR" picture; false when the picture is missing or too narrow.
bool AttachToolBarIcons(MenuEx::CNewMenu& menu);

}  // namespace MainMenu

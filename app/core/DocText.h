#pragma once
// Fills a string-table pattern's %s, %d and %i in order with ready-made
// argument texts ("%%" gives "%"). The arguments are never read as patterns,
// so a file name full of '%' is shown as it is.

#include <initializer_list>
#include <string>
#include <string_view>

namespace DocText {

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args);
// The string of an id filled with the arguments.
std::string Load(unsigned id, std::initializer_list<std::string_view> args = {});

}  // namespace DocText

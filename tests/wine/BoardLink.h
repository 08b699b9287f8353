// The Windows test program's side of the board commands (BoardCommands.h):
// a command goes out on standard output, its answer comes back on
// standard input from wine_hid_board.
#pragma once

#include <string>

namespace winetest {

// The answer line, or empty when nobody answers (not run by wine_hid_board).
std::string BoardCommand(const std::string& ACommand);

}  // namespace winetest

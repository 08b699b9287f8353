// The commands a Windows test program sends to the board it talks to: one
// line "@@board <command>" on its standard output, one answer line on its
// standard input.
//
//   plug | unplug        the board joins or leaves the bus; answer: its node or "none"
//   node                 the board's node now, or "none"
//   reset                a new board (resident loader, old firmware) in place of the old one
//   state                "resident", "ram" or "away"
//   memory ADDR COUNT    COUNT bytes from hexadecimal ADDR, as hexadecimal text
//   no-answer 0|1        the board stops (1) or resumes (0) answering
//   reports              output reports the board took so far
//   unknown-ioctls       hidraw calls nobody answered, or "none"
#pragma once

#include <string>

#include "HidrawBoard.h"

namespace winetest {

constexpr const char* kCommandMark = "@@board ";

// Runs one command line (without the mark); the answer line without its end.
std::string RunBoardCommand(THidrawBoard& ABoard, const std::string& ACommand);

}  // namespace winetest

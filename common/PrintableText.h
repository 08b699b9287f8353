// Text from a file or the command line, made safe to print: a byte that is
// a control character, or that starts no UTF-8 character, is shown as
// "\xNN", so a binary file quoted in a message cannot put escape sequences
// or raw bytes on the technician's terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// AText with such bytes escaped; longer than AMaxCharacters characters, it
// is cut there and "..." follows (0: never cut).
std::string PrintableText(std::string_view AText, size_t AMaxCharacters = 0);

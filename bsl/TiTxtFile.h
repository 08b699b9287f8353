// Reading an image file into its lines, the same way for the image check,
// the flasher and the simulated board.
#pragma once

#include <string>
#include <vector>

// Lines end in CR LF, LF or CR; a final line end opens no extra line.
std::vector<std::string> SplitTiTxtLines(const std::string& AText);

// True when AFileName names a file (a link is followed), not a folder.
bool TiTxtFileExists(const std::string& AFileName);

// The whole file without a leading UTF-8 byte order mark. A file that
// cannot be read raises std::runtime_error naming it and the reason.
std::string ReadTiTxtFile(const std::string& AFileName);

// Size of the file in bytes; -1 when it cannot be found.
long long TiTxtFileSize(const std::string& AFileName);

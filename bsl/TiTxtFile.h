// Reading an image file into its lines, the same way for the image check,
// the image writer and the simulated board.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// Lines end in CR LF, LF or CR; a final line end opens no extra line.
std::vector<std::string> SplitTiTxtLines(const std::string& AText);

// Why AFileName cannot be read as an image file before it is opened: it
// does not exist, or it is a folder (the system's reason); empty when it
// is a file.
std::string TiTxtFileProblem(const std::string& AFileName);

// A file that cannot be read: what() names it and the system's reason.
class ETiTxtFileError : public std::runtime_error {
 public:
  ETiTxtFileError(const std::string& AFileName, std::string AReason);
  const std::string& Reason() const { return FReason; }

 private:
  std::string FReason;
};

// The whole file without a leading UTF-8 byte order mark. A file that
// cannot be read raises ETiTxtFileError.
std::string ReadTiTxtFile(const std::string& AFileName);

// Size of the file in bytes; -1 when it cannot be found.
long long TiTxtFileSize(const std::string& AFileName);

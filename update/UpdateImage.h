// A firmware image as the update reads it: the lines to flash and what they
// write, checked completely before any report goes to the board.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "LogUtils.h"
#include "TiTxtImage.h"

namespace update {

enum class TImageRole {
  Loader,    // the RAM loader: writes RAM only and ends with a start line
  Firmware,  // the application: main flash and information memory, a settings line
};

// Consecutive bytes the image writes from Address on.
using TImageRange = TTiTxtRange;

struct TUpdateImage {
  std::string FileName;
  TImageRole Role = TImageRole::Firmware;
  std::vector<std::string> Lines;   // as read, the flasher's input
  std::vector<TImageRange> Ranges;  // everything the image writes, merged, in address order
  TTiTxtImage Checked;              // sections with their lines, marks, start and end line
  std::string Sha256;               // of the file's bytes as read (empty: lines given in memory)
};

// Why an image was refused; Line counts from 1 (0: the file as a whole).
struct TImageRefusal {
  std::string FileName;
  int Line = 0;
  std::string Reason;
};

// Reads AFileName and checks it for its role. True with AImage filled, or
// false with ARefusal filled (a file that cannot be read is refused too).
bool ReadImage(const std::string& AFileName, TImageRole ARole, TUpdateImage& AImage,
               TImageRefusal& ARefusal);
// The same for lines already in memory; AFileName only names them.
bool CheckImage(const std::string& AFileName, TImageRole ARole, std::vector<std::string> ALines,
                TUpdateImage& AImage, TImageRefusal& ARefusal);

// The technician's text for a refused image: file, line, reason, and that
// the board was not changed.
std::string RefusalText(const TImageRefusal& ARefusal);

}  // namespace update

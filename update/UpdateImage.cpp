#include "UpdateImage.h"

#include "Sha256.h"

namespace update {

namespace {

TTiTxtImageKind KindOf(TImageRole ARole) {
  return ARole == TImageRole::Loader ? TTiTxtImageKind::Loader : TTiTxtImageKind::Application;
}

TImageRefusal RefusalOf(const ETiTxtImageError& AError) {
  return {AError.FileName(), AError.Line(), AError.Reason()};
}

}  // namespace

bool ReadImage(const std::string& AFileName, TImageRole ARole, TUpdateImage& AImage,
               TImageRefusal& ARefusal) {
  std::vector<std::string> lines;
  std::string text;
  try {
    lines = ReadTiTxtImageLines(AFileName, &text);  // what is checked is what is sent
  } catch (const ETiTxtImageError& e) {
    ARefusal = RefusalOf(e);
    return false;
  }
  if (!CheckImage(AFileName, ARole, std::move(lines), AImage, ARefusal)) return false;
  AImage.Sha256 = Sha256Hex(text);
  return true;
}

bool CheckImage(const std::string& AFileName, TImageRole ARole, std::vector<std::string> ALines,
                TUpdateImage& AImage, TImageRefusal& ARefusal) {
  try {
    TTiTxtImage checked = CheckTiTxtImage(ALines, KindOf(ARole), AFileName);
    std::vector<TImageRange> ranges = checked.Ranges();
    AImage = {AFileName, ARole, std::move(ALines), std::move(ranges), std::move(checked), {}};
    return true;
  } catch (const ETiTxtImageError& e) {
    ARefusal = RefusalOf(e);
    return false;
  }
}

std::string RefusalText(const TImageRefusal& ARefusal) {
  return ImageRefusalText(ETiTxtImageError(ARefusal.FileName, ARefusal.Line, ARefusal.Reason));
}

}  // namespace update

#include "UpdateImage.h"

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
  try {
    lines = ReadTiTxtImageLines(AFileName);  // what is checked is what is sent
  } catch (const ETiTxtImageError& e) {
    ARefusal = RefusalOf(e);
    return false;
  }
  return CheckImage(AFileName, ARole, std::move(lines), AImage, ARefusal);
}

bool CheckImage(const std::string& AFileName, TImageRole ARole, std::vector<std::string> ALines,
                TUpdateImage& AImage, TImageRefusal& ARefusal) {
  try {
    TTiTxtImage checked = CheckTiTxtImage(ALines, KindOf(ARole), AFileName);
    std::vector<TImageRange> ranges = checked.Ranges();
    AImage = {AFileName, ARole, std::move(ALines), std::move(ranges), std::move(checked)};
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

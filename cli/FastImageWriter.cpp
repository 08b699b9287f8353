#include "FastImageWriter.h"

#include "FastWriter.h"
#include "bsl_hid.h"

update::TImageWriter FastImageWriter() {
  return [](TBsl& ABsl, const update::TUpdateImage& AImage) {
    const TLogMsg& log = ABsl.onLogMsg();
    if (log) log(0, mtDebug, "Begin flashing file \"" + AImage.FileName + "\" in full reports.", clBlack);
    const TFastWriteResult result = FastWriteImage(ABsl, AImage.Checked);
    if (log)
      log(0, mtDebug,
          "End flashing file \"" + AImage.FileName + "\": " + std::to_string(result.Bytes) + " bytes in " +
              std::to_string(result.Reports) + " fast writes.",
          clBlack);
    return result.Complete;
  };
}

#include "Station.h"

update::TSettingsTexts StationSettings(const TStation& AStation) {
  static const char* const kAttributes[] = {"apn", "login", "password"};
  std::array<std::string, 3> where;
  for (size_t i = 0; i < where.size(); ++i)
    where[i] = "station file \"" + AStation.File + "\", line " + std::to_string(AStation.SettingsLine) + ", " +
               kAttributes[i];
  try {
    return update::CheckedSettings(AStation.Texts, where);
  } catch (const update::ESettingsText& e) {
    throw EStationRefused(e.what());
  }
}

void CheckPinnedImage(const TStation& AStation, const TTiTxtImage& AImage, bool ALoader) {
  const std::string& pinned = ALoader ? AStation.LoaderSha256 : AStation.FirmwareSha256;
  if (AImage.Sha256 == pinned) return;
  const std::string& file = ALoader ? AStation.LoaderFile : AStation.FirmwareFile;
  throw EStationRefused("the image \"" + file + "\" is not the one station file \"" + AStation.File +
                        "\" pins (line " + std::to_string(ALoader ? AStation.LoaderLine : AStation.FirmwareLine) +
                        "): its SHA-256 is " + AImage.Sha256 + ", the station file's is " + pinned +
                        "; put the pinned image there, or have the station file changed if this image is meant; "
                        "nothing was sent to any board");
}

// The station file, read by the settings file's XML reader.
#include "Station.h"
#include "StationConfig.h"
#include "Utf8.h"

TStation ReadStationFile(const std::string& AFile) {
  TStationConfig config;
  try {
    config = LoadStationConfig(Utf8ToPath(AFile));
  } catch (const EStationConfig& e) {
    throw EStationRefused(e.what());
  }
  TStation station;
  station.File = PathToUtf8(config.File);
  station.Name = config.Name;
  station.LoaderFile = PathToUtf8(config.Loader.File);
  station.FirmwareFile = PathToUtf8(config.Firmware.File);
  station.LoaderSha256 = config.Loader.Sha256;
  station.FirmwareSha256 = config.Firmware.Sha256;
  station.LoaderLine = config.Loader.Line;
  station.FirmwareLine = config.Firmware.Line;
  station.Texts = {config.Apn, config.Login, config.Password};
  station.SettingsLine = config.SettingsLine;
  for (const TStationPort& port : config.Ports) {
    station.Ports.push_back(port.Path);
    station.Labels.push_back(port.Label);
  }
  station.RecordFile = PathToUtf8(config.RecordFile);
  station.SerialRequired = config.SerialRequired;
  station.Fast = config.Fast;
  return station;
}

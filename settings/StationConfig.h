// The station file: what a production bench runs, fixed by its engineer so
// that the operator cannot change it by mistake. The station's name, the
// two images pinned by their SHA-256, the three settings texts, the ports
// served with their labels, the record file, whether each board takes a
// scanned serial, and whether writes go out in full reports. An XML file
// in UTF-8 (the format is in the README); read, never written.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A station file that cannot be used. The message names the file, the
// line where that is known, and what to change.
class EStationConfig : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TPinnedImage {
  std::filesystem::path File;  // as given, made absolute against the station file's folder
  std::string Sha256;          // 64 lower-case hex digits
  int Line = 0;                // where the file names it
};

struct TStationPort {
  std::string Path;   // the USB port, as kestrova-flash --list shows it ("1-1.3")
  std::string Label;  // what the operator calls it ("Slot 3")
};

struct TStationConfig {
  std::filesystem::path File;  // the station file itself
  std::string Name;
  TPinnedImage Loader, Firmware;
  std::string Apn, Login, Password;  // UTF-8, as the file states them
  int SettingsLine = 0;              // the line of the settings element
  std::vector<TStationPort> Ports;   // in the order they are listed; empty: every board
  std::filesystem::path RecordFile;  // made absolute like the images
  bool SerialRequired = false;       // every board waits for a scanned serial
  bool Fast = true;                  // writes in full reports (always verified)
};

// Reads and checks AFile; throws EStationConfig.
TStationConfig LoadStationConfig(const std::filesystem::path& AFile);

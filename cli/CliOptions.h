// The command line of kestrova-flash.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "StationFiles.h"

// A command line that cannot be used; the message says what is wrong.
class ECliUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCliOptions {
  std::string LoaderFile = station::kLoaderImageName;  // in the current folder
  std::string FirmwareFile = station::kFirmwareImageName;
  std::optional<std::string> Apn, Login, Password;  // UTF-8
  std::optional<std::string> SettingsFile;
  std::optional<std::string> LogFile;
  std::optional<std::string> RecordFile;  // one JSON line per board, appended
  std::optional<std::string> StationFile; // images, settings, ports, record and fast writes from one file
  std::vector<std::string> Ports;         // only the boards at these ports (empty: any)
  bool Gang = false;                      // every board at once
  bool Quiet = false;
  bool List = false;
  bool Repeat = false;
  bool Fast = false;
  bool Json = false;                      // standard output: JSON Lines only (JsonStream.h)
  bool Help = false;
  bool Version = false;
  std::vector<std::string> Arguments;  // as given, for the log
};

// Parses the arguments after the program name. "--name VALUE" and
// "--name=VALUE" both work; a VALUE that begins with "--" is taken for a
// forgotten value and refused unless joined with "=" (an empty text is
// "--apn="). Throws ECliUsage.
TCliOptions ParseCliOptions(const std::vector<std::string>& AArgs);

// Whether AArgs hold AFlag ("--json", alone or with "="), even when they
// cannot be parsed: --json and --quiet shape the refusal, too.
bool AsksFor(const std::vector<std::string>& AArgs, const std::string& AFlag);

// The text of --help, exit codes included.
std::string CliHelpText();
// The line of --version: "kestrova-flash 1.1.0".
std::string CliVersionText();

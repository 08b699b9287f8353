#include "CliOptions.h"

#include "DefaultSettings.h"
#include "ExitCodes.h"
#include "KestrovaVersion.h"
#include "PrintableText.h"

#include <algorithm>

namespace {

constexpr size_t kExcerpt = 40;  // characters of an argument quoted in a message

struct TValueOption {
  const char* Name;
  std::optional<std::string> TCliOptions::*Field;
};

constexpr TValueOption kOptionalValues[] = {
    {"--apn", &TCliOptions::Apn},
    {"--login", &TCliOptions::Login},
    {"--password", &TCliOptions::Password},
    {"--settings", &TCliOptions::SettingsFile},
    {"--log", &TCliOptions::LogFile},
    {"--record", &TCliOptions::RecordFile},
    {"--station", &TCliOptions::StationFile},
};

// What a station file sets, and so cannot be given beside it.
constexpr const char* kSetByStation[] = {"--loader", "--firmware", "--apn",      "--login", "--password",
                                         "--record", "--port",     "--settings", "--fast"};

struct TFlag {
  const char* Name;
  bool TCliOptions::*Field;
};

constexpr TFlag kFlags[] = {
    {"--quiet", &TCliOptions::Quiet}, {"--list", &TCliOptions::List},
    {"--repeat", &TCliOptions::Repeat}, {"--fast", &TCliOptions::Fast}, {"--gang", &TCliOptions::Gang},
    {"--json", &TCliOptions::Json},
    {"--help", &TCliOptions::Help}, {"--version", &TCliOptions::Version},
};

bool TakesEmptyText(const std::string& AName) {
  return AName == "--apn" || AName == "--login" || AName == "--password";
}

// Takes the value of AName: after "=" in the argument, or the next argument.
std::string TakeValue(const std::string& AName, const std::optional<std::string>& AInline,
                      const std::vector<std::string>& AArgs, size_t& AIndex) {
  if (AInline) {
    if (AInline->empty() && !TakesEmptyText(AName)) throw ECliUsage(AName + " needs a value");
    return *AInline;
  }
  if (AIndex + 1 >= AArgs.size()) throw ECliUsage(AName + " needs a value");
  const std::string& next = AArgs[AIndex + 1];
  if (next.rfind("--", 0) == 0)
    throw ECliUsage(AName + " needs a value, and \"" + PrintableText(next, kExcerpt) + "\" is an option" +
                    (TakesEmptyText(AName) ? " (an empty text is given as " + AName + "=)" : std::string()));
  return AArgs[++AIndex];
}

}  // namespace

TCliOptions ParseCliOptions(const std::vector<std::string>& AArgs) {
  TCliOptions options;
  options.Arguments = AArgs;
  std::vector<std::string> clashes;  // options that a station file sets, as given
  for (size_t i = 0; i < AArgs.size(); ++i) {
    const std::string& arg = AArgs[i];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    for (const char* set : kSetByStation)
      if (name == set && std::find(clashes.begin(), clashes.end(), name) == clashes.end()) clashes.push_back(name);
    std::optional<std::string> inlineValue;
    if (equals != std::string::npos) inlineValue = arg.substr(equals + 1);
    if (name == "-h") {
      options.Help = true;
      continue;
    }
    bool known = false;
    for (const TFlag& flag : kFlags) {
      if (name != flag.Name) continue;
      if (inlineValue) throw ECliUsage(name + " takes no value");
      options.*flag.Field = true;
      known = true;
    }
    if (name == "--loader" || name == "--firmware") {
      std::string& field = name == "--loader" ? options.LoaderFile : options.FirmwareFile;
      field = TakeValue(name, inlineValue, AArgs, i);
      if (field.empty()) throw ECliUsage(name + " needs a file name");
      known = true;
    }
    if (name == "--port") {
      options.Ports.push_back(TakeValue(name, inlineValue, AArgs, i));
      if (options.Ports.back().empty()) throw ECliUsage("--port needs a port (see --list)");
      known = true;
    }
    for (const TValueOption& option : kOptionalValues) {
      if (name != option.Name) continue;
      if (options.*option.Field) throw ECliUsage(name + " is given twice");
      options.*option.Field = TakeValue(name, inlineValue, AArgs, i);
      known = true;
    }
    if (!known) throw ECliUsage("unknown argument \"" + PrintableText(arg, kExcerpt) + "\" (see --help)");
  }
  if (options.List && (options.Repeat || options.Fast || options.Gang || !options.Ports.empty() || options.StationFile))
    throw ECliUsage(
        "--list only lists devices; it cannot be combined with --repeat, --fast, --gang, --port or --station");
  if (options.StationFile && !clashes.empty()) {
    std::string named;
    for (size_t i = 0; i < clashes.size(); ++i)
      named += (i == 0 ? "" : i + 1 == clashes.size() ? " and " : ", ") + clashes[i];
    throw ECliUsage("--station takes the images, settings, ports, record and fast writes from the station file; "
                    "leave out " + named + " (or change the station file)");
  }
  if (options.StationFile) options.Gang = true;  // a station serves every board at once
  return options;
}

bool AsksFor(const std::vector<std::string>& AArgs, const std::string& AFlag) {
  for (const std::string& arg : AArgs)
    if (arg == AFlag || arg.rfind(AFlag + "=", 0) == 0) return true;
  return false;
}

std::string CliHelpText() {
  return "Usage: kestrova-flash [options]\n"
         "Updates the firmware and the mobile-data settings of a weather-station board\n"
         "connected by USB under its bootstrap loader (press the board's button while\n"
         "connecting it).\n"
         "\n"
         "Images:\n"
         "  --loader FILE      RAM loader image (default: " + std::string(station::kLoaderImageName) + ")\n"
         "  --firmware FILE    application image (default: " + station::kFirmwareImageName + ")\n"
         "Settings written into the board (at most 40 characters each):\n"
         "  --settings FILE    read apn, login and password from a settings file\n"
         "  --apn TEXT         access point name (default \"" + kDefaultApn + "\")\n"
         "  --login TEXT       login (default \"" + kDefaultLogin + "\")\n"
         "  --password TEXT    password (default \"" + kDefaultPassword + "\")\n"
         "                     given with --settings, these win over the file\n"
         "A production station:\n"
         "  --station FILE     run the station that FILE describes: the images pinned\n"
         "                     by their SHA-256, the settings, the ports, the record\n"
         "                     and fast writes (so none of --loader, --firmware, --apn,\n"
         "                     --login, --password, --settings, --port, --record,\n"
         "                     --fast); every board at once. When the file asks for\n"
         "                     serials, each board takes the next line of standard\n"
         "                     input. Not in the Windows build, which reads no XML files\n"
         "Running:\n"
         "  --fast             write full reports without pauses (always verified)\n"
         "  --repeat           production: update one board after another until Ctrl-C\n"
         "  --gang             update every board connected, all at once (with --repeat:\n"
         "                     each board that is connected later, as it comes)\n"
         "  --port PATH        only the board at this USB port (see --list); may be repeated\n"
         "  --record FILE      append one JSON line per board to FILE (ID, result, checksums)\n"
         "  --log FILE         write the full log with timestamps to FILE\n"
         "  --quiet            no progress, only results and errors\n"
         "  --json             standard output: one JSON object per event (JSON Lines),\n"
         "                     human text on standard error (none with --quiet)\n"
         "  --list             list every HID device seen and whether it can be opened\n"
         "  --help             this text\n"
         "  --version          the version of kestrova-flash\n"
         "\n"
         "The simulated bus: KESTROVA_SIM=board (see the README).\n"
         "\n"
         "Exit codes:\n" +
         ExitCodeTable();
}

std::string CliVersionText() { return std::string("kestrova-flash ") + kKestrovaVersion + "\n"; }

// Builds without the XML parser (the Windows cross build: no pugixml for
// mingw-w64 among the system's packages) cannot read settings files or
// station files.
#include "CliSettings.h"
#include "CliStation.h"

void ReadSettingsFile(const std::string& AFile, std::array<std::string, 3>&, int&) {
  throw ECliUsage("settings file \"" + AFile +
                  "\": this build cannot read settings files; give --apn, --login and --password");
}

TCliStation ReadStationFile(const std::string& AFile) {
  throw ECliUsage("station file \"" + AFile +
                  "\": this build reads no XML files, so it runs no station; give the images, settings and "
                  "ports as options (--loader, --firmware, --apn, --login, --password, --port, --record)");
}

// Builds without the XML parser (the Windows cross build: no pugixml for
// mingw-w64 among the system's packages) cannot read settings files.
#include "CliSettings.h"

void ReadSettingsFile(const std::string& AFile, std::array<std::string, 3>&, int&) {
  throw ECliUsage("settings file \"" + AFile +
                  "\": this build cannot read settings files; give --apn, --login and --password");
}

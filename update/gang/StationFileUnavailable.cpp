// Builds without the XML parser (the Windows cross build: no pugixml for
// mingw-w64 among the system's packages) cannot read station files.
#include "Station.h"

TStation ReadStationFile(const std::string& AFile) {
  throw EStationRefused("station file \"" + AFile +
                        "\": this build reads no XML files, so it runs no station; give the images, settings and "
                        "ports as options (--loader, --firmware, --apn, --login, --password, --port, --record)");
}

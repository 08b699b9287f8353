// A portable build: the station's files lie beside the executable, so the
// whole station is one folder that can be copied anywhere.
#include "StationFiles.h"

std::filesystem::path station::DefaultFolder() { return ExecutableFolder(); }

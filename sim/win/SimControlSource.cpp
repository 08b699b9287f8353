// The control on Windows: a regular file that commands are appended to
// (Windows has no named pipes in the file system to write into with echo).
#include "SimControlSource.h"

namespace sim {

std::unique_ptr<IControlSource> OpenControlSource(const std::string& APath) { return OpenControlFile(APath); }

}  // namespace sim

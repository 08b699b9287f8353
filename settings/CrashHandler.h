// The last resort: a crash (an access violation, an illegal instruction, a
// division by zero: what no handler of the program can catch) is appended
// to the bug report file, with what happened, where and on which thread,
// before the process ends as the system ends a crashed program.
#pragma once

#include <filesystem>

namespace station {

// Installs the handler for the whole process, writing to AReportFile;
// called again, it writes to the new file. False when the path is too long
// to be kept: the handler keeps it in fixed storage, since nothing may be
// allocated once the process has crashed.
bool InstallCrashHandler(const std::filesystem::path& AReportFile);

}  // namespace station

// Where the commands of a simulated session's control come from: a file
// that commands are appended to, or (where the system has them) a named
// pipe that they are written into. Text only; the lines are cut elsewhere.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace sim {

class IControlSource {
 public:
  virtual ~IControlSource() = default;
  // The text that arrived since the last call; waits up to AWait for some
  // when none has, and returns empty then.
  virtual std::string Take(std::chrono::milliseconds AWait) = 0;
};

// A regular file, looked at again on every call: what was appended since
// the last look. Text it holds when it is opened is old and skipped; a file
// that does not exist yet is read from its start once it does, and one that
// was emptied is read from its start again.
std::unique_ptr<IControlSource> OpenControlFile(const std::string& APath);

// The control named by APath, as the system allows (one backend per
// system); throws std::runtime_error saying why it cannot be read.
std::unique_ptr<IControlSource> OpenControlSource(const std::string& APath);

}  // namespace sim

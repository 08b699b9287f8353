// The control on Linux: a named pipe (mkfifo) or a regular file.
#include "SimControlSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {
namespace {

// Opened for reading and writing, the pipe never reaches its end when a
// writer closes it (the next one simply goes on), and the open does not
// wait for a writer; not blocking, a read takes what is there.
class TControlFifo : public IControlSource {
 public:
  explicit TControlFifo(const std::string& APath) : FFd(::open(APath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {
    if (FFd < 0) throw std::runtime_error("\"" + APath + "\" cannot be opened: " + std::strerror(errno));
  }
  ~TControlFifo() override { ::close(FFd); }
  TControlFifo(const TControlFifo&) = delete;
  TControlFifo& operator=(const TControlFifo&) = delete;

  std::string Take(std::chrono::milliseconds AWait) override {
    pollfd ready{FFd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(AWait.count())) <= 0) return {};
    std::string text;
    char buffer[512];
    for (;;) {
      const ssize_t got = ::read(FFd, buffer, sizeof buffer);
      if (got <= 0) return text;  // EAGAIN: all of it taken
      text.append(buffer, static_cast<size_t>(got));
    }
  }

 private:
  const int FFd;
};

}  // namespace

std::unique_ptr<IControlSource> OpenControlSource(const std::string& APath) {
  struct stat info {};
  if (::stat(APath.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) return std::make_unique<TControlFifo>(APath);
  return OpenControlFile(APath);
}

}  // namespace sim

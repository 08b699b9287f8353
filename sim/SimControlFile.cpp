// The control as a regular file that commands are appended to.
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "SimControlSource.h"
#include "Utf8.h"

namespace sim {
namespace {

class TControlFile : public IControlSource {
 public:
  explicit TControlFile(const std::string& APath) : FPath(Utf8ToPath(APath)) { FRead = Size(); }

  std::string Take(std::chrono::milliseconds AWait) override {
    std::string text = Appended();
    if (text.empty()) std::this_thread::sleep_for(AWait);
    return text;
  }

 private:
  // The file's size now; 0 while it does not exist.
  std::streamoff Size() const {
    std::ifstream in(FPath, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
  }

  std::string Appended() {
    std::ifstream in(FPath, std::ios::binary | std::ios::ate);
    if (!in) {
      FRead = 0;  // gone: all of the next one is new
      return {};
    }
    const std::streamoff size = in.tellg();
    if (size < FRead) FRead = 0;  // emptied or replaced: all of it is new
    if (size == FRead) return {};
    std::string text(static_cast<size_t>(size - FRead), '\0');
    in.seekg(FRead);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    FRead += static_cast<std::streamoff>(text.size());
    return text;
  }

  const std::filesystem::path FPath;
  std::streamoff FRead = 0;
};

}  // namespace

std::unique_ptr<IControlSource> OpenControlFile(const std::string& APath) {
  std::error_code error;
  const auto status = std::filesystem::status(Utf8ToPath(APath), error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    throw std::runtime_error("\"" + APath + "\" is not a file");
  return std::make_unique<TControlFile>(APath);
}

}  // namespace sim

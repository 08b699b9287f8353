#include "SimControl.h"

namespace sim {
namespace {

// How long the thread waits for a command before it looks whether it
// should end: the longest an exit waits for it.
constexpr std::chrono::milliseconds kLookEvery{50};
// No command is this long: text without an end of line is handed on (and
// refused) rather than kept for ever.
constexpr size_t kLongestLine = 4096;

}  // namespace

TSimControl::TSimControl(std::unique_ptr<IControlSource> ASource, TOnLine AOnLine)
    : FSource(std::move(ASource)), FOnLine(std::move(AOnLine)), FThread([this] { Run(); }) {}

TSimControl::~TSimControl() {
  FStop.store(true);
  FThread.join();
}

void TSimControl::Run() {
  while (!FStop.load()) Feed(FSource->Take(kLookEvery));
}

void TSimControl::Feed(const std::string& AText) {
  FPartial += AText;
  for (size_t end = FPartial.find('\n'); end != std::string::npos; end = FPartial.find('\n')) {
    std::string line = FPartial.substr(0, end);
    FPartial.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    FOnLine(line);
  }
  if (FPartial.size() > kLongestLine) {
    FOnLine(FPartial);
    FPartial.clear();
  }
}

}  // namespace sim

#include "SerialSource.h"

namespace {
constexpr const char* kBlanks = " \t\r\f\v";
}  // namespace

void TSerialLines::Add(const std::string& ABytes) {
  FPartial += ABytes;
  for (size_t end; (end = FPartial.find('\n')) != std::string::npos;) {
    Take(FPartial.substr(0, end));
    FPartial.erase(0, end + 1);
  }
}

void TSerialLines::End() {
  Take(std::move(FPartial));
  FPartial.clear();
  FEnded = true;
}

void TSerialLines::Take(std::string ALine) {
  const size_t first = ALine.find_first_not_of(kBlanks);
  if (first == std::string::npos) return;
  ALine = ALine.substr(first, ALine.find_last_not_of(kBlanks) - first + 1);
  FReady.push_back(std::move(ALine));
}

ISerialSource::TState TSerialLines::Next(std::string& ASerial) {
  if (FReady.empty()) return FEnded ? ISerialSource::TState::Ended : ISerialSource::TState::Waiting;
  ASerial = std::move(FReady.front());
  FReady.pop_front();
  return ISerialSource::TState::Ready;
}

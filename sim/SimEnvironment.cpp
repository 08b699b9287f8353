#include "SimEnvironment.h"

#include <mutex>
#include <stdexcept>

#include "SimDevices.h"
#include "Utf8Environment.h"

namespace sim {
namespace {

std::mutex GFactoryLock;
TSimBoardFactory GBoardFactory;

std::string Trim(const std::string& AText) {
  const char* kBlanks = " \t\r\n";
  const size_t LFirst = AText.find_first_not_of(kBlanks);
  if (LFirst == std::string::npos) return {};
  return AText.substr(LFirst, AText.find_last_not_of(kBlanks) - LFirst + 1);
}

std::vector<std::string> Split(const std::string& AText, char ASeparator) {
  std::vector<std::string> LParts;
  size_t LStart = 0;
  for (;;) {
    const size_t LEnd = AText.find(ASeparator, LStart);
    LParts.push_back(Trim(AText.substr(LStart, LEnd - LStart)));
    if (LEnd == std::string::npos) return LParts;
    LStart = LEnd + 1;
  }
}

// The value of "firmware=" is a path and may hold colons ("C:\\images\\old.txt"):
// it takes the rest of the item, so it comes last.
std::vector<std::string> JoinPathOption(std::vector<std::string> AParts) {
  for (size_t i = 1; i < AParts.size(); ++i) {
    if (AParts[i].rfind("firmware=", 0) != 0) continue;
    for (size_t j = i + 1; j < AParts.size(); ++j) AParts[i] += ":" + AParts[j];
    AParts.resize(i + 1);
    break;
  }
  return AParts;
}

TSimDeviceSpec ParseItem(const std::string& AItem) {
  std::vector<std::string> LParts = JoinPathOption(Split(AItem, ':'));
  TSimDeviceSpec LSpec;
  LSpec.Name = LParts.front();
  LSpec.Options.assign(LParts.begin() + 1, LParts.end());
  const bool LKnown = LSpec.Name == "board" || LSpec.Name == "keyboard" || LSpec.Name == "mouse";
  if (!LKnown)
    throw std::invalid_argument(std::string(kSimEnvironmentVariable) + ": unknown device \"" +
                                LSpec.Name + "\" (known: board, keyboard, mouse)");
  if (LSpec.Name != "board" && !LSpec.Options.empty())
    throw std::invalid_argument(std::string(kSimEnvironmentVariable) + ": \"" + AItem +
                                "\": only the board takes options");
  return LSpec;
}

std::shared_ptr<TSimDevice> MakeFromSpec(const TSimDeviceSpec& ASpec) {
  if (ASpec.Name == "keyboard") return MakeSimKeyboard();
  if (ASpec.Name == "mouse") return MakeSimMouse();
  return MakeSimBoardFromOptions(ASpec.Options);
}

}  // namespace

std::vector<TSimDeviceSpec> ParseSimDeviceList(const std::string& AText) {
  std::vector<TSimDeviceSpec> LSpecs;
  for (const std::string& LItem : Split(AText, ',')) {
    if (LItem.empty()) continue;  // "board," or a doubled comma
    LSpecs.push_back(ParseItem(LItem));
  }
  return LSpecs;
}

void SetSimBoardFactory(TSimBoardFactory AFactory) {
  std::lock_guard<std::mutex> LGuard(GFactoryLock);
  GBoardFactory = std::move(AFactory);
}

std::shared_ptr<TSimDevice> MakeSimBoardFromOptions(const std::vector<std::string>& AOptions) {
  TSimBoardFactory LFactory;
  {
    std::lock_guard<std::mutex> LGuard(GFactoryLock);
    LFactory = GBoardFactory;
  }
  return LFactory ? LFactory(AOptions) : MakePlainSimBoard();
}

std::unique_ptr<TSimBus> CreateBusFromList(const std::string& AText) {
  std::vector<TSimDeviceSpec> LSpecs = ParseSimDeviceList(AText);
  auto LBus = std::make_unique<TSimBus>();
  for (const TSimDeviceSpec& LSpec : LSpecs) LBus->Plug(MakeFromSpec(LSpec));
  return LBus;
}

std::unique_ptr<TSimBus> CreateBusFromEnvironment() {
  const auto LValue = Utf8Environment(kSimEnvironmentVariable);
  if (!LValue || Trim(*LValue).empty()) return nullptr;
  return CreateBusFromList(*LValue);
}

}  // namespace sim

// MakeSimBoard: the simulated board from option words (tools and tests).
#include <stdexcept>

#include "SimBoard.h"

namespace sim {

namespace {

uint32_t ParseCount(const std::string& AWord, const std::string& AValue) {
  size_t used = 0;
  unsigned long value = 0;
  try {
    value = std::stoul(AValue, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (AValue.empty() || used != AValue.size() || AValue[0] == '-' || value > UINT32_MAX)
    throw std::invalid_argument("simulated board option \"" + AWord +
                                "\": \"" + AValue + "\" is not a whole number");
  return static_cast<uint32_t>(value);
}

uint8_t ParseCommandByte(const std::string& AWord, const std::string& AValue) {
  const bool hex = !AValue.empty() && AValue.size() <= 2 &&
                   AValue.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  if (!hex)
    throw std::invalid_argument("simulated board option \"" + AWord + "\": \"" + AValue +
                                "\" is not a command byte in hexadecimal");
  return static_cast<uint8_t>(std::stoul(AValue, nullptr, 16));
}

TDieRecord ParseDie(const std::string& AWord, const std::string& AValue) {
  TDieRecord die;
  if (!ParseDieRecord(AValue, die))
    throw std::invalid_argument("simulated board option \"" + AWord + "\": \"" + AValue +
                                "\" is not lot/wafer, die X and die Y in hexadecimal (LLLLLLLL-XXXX-YYYY)");
  return die;
}

// Option words that take a count: the field each sets.
struct TCountOption {
  const char* Name;
  uint32_t TSimBoardOptions::*Field;
};

constexpr TCountOption kCountOptions[] = {
    {"return-delay", &TSimBoardOptions::ReturnDelayMs},
    {"answer-delay", &TSimBoardOptions::AnswerDelayMs},
    {"drop-after", &TSimBoardOptions::DropAfterReports},
    {"lose-write", &TSimBoardOptions::LoseWrite},
    {"cut-report", &TSimBoardOptions::CutReport},
    {"silent-at", &TSimBoardOptions::SilentAt},
    {"late-answer", &TSimBoardOptions::LateAt},
    {"garble-answer", &TSimBoardOptions::GarbleAt},
    {"wrong-length", &TSimBoardOptions::WrongLengthAt},
    {"unplug-at", &TSimBoardOptions::UnplugAt},
    {"replug-after", &TSimBoardOptions::ReplugAfterMs},
    {"flash-time", &TSimBoardOptions::FlashWordUs},
};

bool ApplyCount(TSimBoardOptions& AOptions, const std::string& AWord, const std::string& AName,
                const std::string& AValue) {
  for (const TCountOption& option : kCountOptions) {
    if (AName != option.Name) continue;
    AOptions.*option.Field = ParseCount(AWord, AValue);
    return true;
  }
  return false;
}

void ApplyOption(TSimBoardOptions& AOptions, const std::string& AWord) {
  const size_t equals = AWord.find('=');
  const std::string name = AWord.substr(0, equals);
  const bool hasValue = equals != std::string::npos;
  const std::string value = hasValue ? AWord.substr(equals + 1) : std::string();
  if (hasValue && ApplyCount(AOptions, AWord, name, value)) return;
  if (!hasValue && name == "refuse-password") {
    AOptions.RefusePassword = true;
  } else if (!hasValue && name == "no-return") {
    AOptions.NoReturn = true;
  } else if (!hasValue && name == "no-answer") {
    AOptions.NoAnswer = true;
  } else if (!hasValue && name == "first-open-fails") {
    AOptions.FirstOpenFails = true;
  } else if (!hasValue && name == "once") {
    AOptions.Once = true;
  } else if (!hasValue && name == "frame-timed") {
    AOptions.FrameTimed = true;
  } else if (hasValue && name == "short-write") {
    AOptions.ShortWrite = ParseCount(AWord, value);
  } else if (hasValue && name == "return-as" && value == "resident") {
    AOptions.ReturnResident = true;
  } else if (hasValue && name == "unknown-command") {
    AOptions.UnknownCommands.push_back(ParseCommandByte(AWord, value));
  } else if (hasValue && name == "port" && !value.empty()) {
    AOptions.Port = value;
  } else if (hasValue && name == "die") {
    AOptions.Die = ParseDie(AWord, value);
  } else if (hasValue && name == "firmware" && !value.empty()) {
    AOptions.Firmware = value;
  } else {
    throw std::invalid_argument(
        "unknown simulated board option \"" + AWord +
        "\" (known: refuse-password, no-return, no-answer, once, frame-timed, return-delay=MS, "
        "return-as=resident, answer-delay=MS, drop-after=N, short-write=N, lose-write=N, "
        "unknown-command=HH, cut-report=N, silent-at=N, late-answer=N, garble-answer=N, "
        "wrong-length=N, unplug-at=N, replug-after=MS, port=PATH, die=LLLLLLLL-XXXX-YYYY, "
        "flash-time=US, firmware=PATH)");
  }
}

}  // namespace

std::shared_ptr<TSimBoard> MakeSimBoard(const std::vector<std::string>& AOptions) {
  TSimBoardOptions options;
  for (const auto& word : AOptions) ApplyOption(options, word);
  return std::make_shared<TSimBoard>(options);
}

}  // namespace sim

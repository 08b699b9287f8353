// The loader's answers as the client reads them: "3F 02 3B MSG" for a
// message, "3F NL 3A data" for data; anything else is no answer of the
// loader's (a corrupt report, a wrong length).
#pragma once

#include <cstdint>
#include <vector>

constexpr uint8_t kBslMessageSuccess = 0x00;
constexpr uint8_t kBslMessageLocked = 0x04;
constexpr uint8_t kBslMessageUnknownCommand = 0x07;

struct TBslAnswer {
  enum TKind { None, Message, Data } Kind = None;
  uint8_t Code = 0;            // message code
  std::vector<uint8_t> Bytes;  // data
};

TBslAnswer ParseBslAnswer(const std::vector<uint8_t>& AReport);

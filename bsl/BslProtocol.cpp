#include "BslProtocol.h"

#include <cstddef>
#include <iterator>

namespace {

constexpr size_t kAnswerHeader = 3;   // report ID, length, answer kind
constexpr size_t kMessageLength = 2;  // answer kind and code

}  // namespace

const char* BslCommandName(uint8_t ACommand) {
  switch (ACommand) {
    case kBslRxDataBlock: return "RX Data Block";
    case kBslRxPassword: return "RX Password";
    case kBslEraseSegment: return "Erase Segment";
    case kBslToggleInfoA: return "Unlock/Lock Info A";
    case kBslMassErase: return "Mass Erase";
    case kBslCrcCheck: return "CRC Check";
    case kBslLoadPC: return "Load PC";
    case kBslTxDataBlock: return "TX Data Block";
    case kBslTxBslVersion: return "TX BSL Version";
    case kBslTxBufferSize: return "TX Buffer Size";
    case kBslRxDataBlockFast: return "RX Data Block Fast";
  }
  return nullptr;
}

const char* BslMessageName(uint8_t ACode) {
  static const char* const kNames[] = {"success", "flash write check failed", "flash fail bit set",
                                       "voltage change during program", "loader locked",
                                       "password error", "byte write forbidden", "unknown command",
                                       "packet too long"};
  return ACode < std::size(kNames) ? kNames[ACode] : nullptr;
}

TBslAnswer ParseBslAnswer(const std::vector<uint8_t>& AReport) {
  TBslAnswer answer;
  if (AReport.size() < kAnswerHeader + 1 || AReport[0] != kBslReportId) return answer;
  const size_t length = AReport[1];
  if (AReport[2] == kBslAnswerMessage && length == kMessageLength) {
    answer.Kind = TBslAnswer::Message;
    answer.Code = AReport[3];
  } else if (AReport[2] == kBslAnswerData && length >= 1 && length + 2 <= AReport.size()) {
    answer.Kind = TBslAnswer::Data;
    answer.Bytes.assign(AReport.begin() + kAnswerHeader, AReport.begin() + 2 + static_cast<long>(length));
  }
  return answer;
}

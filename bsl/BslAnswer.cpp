#include "BslAnswer.h"

#include <cstddef>

namespace {

constexpr uint8_t kReportId = 0x3F;
constexpr uint8_t kAnswerData = 0x3A;
constexpr uint8_t kAnswerMessage = 0x3B;
constexpr size_t kAnswerHeader = 3;  // report ID, length, answer kind
constexpr size_t kMessageLength = 2;  // answer kind and code

}  // namespace

TBslAnswer ParseBslAnswer(const std::vector<uint8_t>& AReport) {
  TBslAnswer answer;
  if (AReport.size() < kAnswerHeader + 1 || AReport[0] != kReportId) return answer;
  const size_t length = AReport[1];
  if (AReport[2] == kAnswerMessage && length == kMessageLength) {
    answer.Kind = TBslAnswer::Message;
    answer.Code = AReport[3];
  } else if (AReport[2] == kAnswerData && length >= 1 && length + 2 <= AReport.size()) {
    answer.Kind = TBslAnswer::Data;
    answer.Bytes.assign(AReport.begin() + kAnswerHeader, AReport.begin() + 2 + static_cast<long>(length));
  }
  return answer;
}

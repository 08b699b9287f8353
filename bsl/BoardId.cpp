#include "BoardId.h"

#include <algorithm>
#include <cstdio>

#include "BslProtocol.h"

namespace {

// One TX Data Block answer fills one report: the loader's 62-byte buffer
// less the answer kind.
constexpr uint32_t kReadBlock = 61;
constexpr size_t kEntryHeader = 2;     // tag, length
constexpr size_t kDieRecordBytes = 8;  // lot/wafer 4, die X 2, die Y 2 (test results follow)


// The table as far as it has been read, read on demand in whole answers.
class TTableReader {
 public:
  explicit TTableReader(const TBoardMemoryReader& ARead) : FRead(ARead) {}

  // ACount bytes from AAddress, all inside the table; false when the board
  // gave none.
  bool Bytes(uint32_t AAddress, size_t ACount, std::vector<uint8_t>& AOut) {
    if (AAddress + ACount > kDescriptorTableEnd) return false;
    while (FStart + FBytes.size() < AAddress + ACount) {
      const uint32_t from = FStart + static_cast<uint32_t>(FBytes.size());
      const uint32_t count = std::min(kReadBlock, kDescriptorTableEnd - from);
      std::vector<uint8_t> block;
      if (!FRead(from, count, block) || block.size() != count) return false;
      FBytes.insert(FBytes.end(), block.begin(), block.end());
    }
    const auto first = FBytes.begin() + (AAddress - FStart);
    AOut.assign(first, first + static_cast<long>(ACount));
    return true;
  }

 private:
  const TBoardMemoryReader& FRead;
  const uint32_t FStart = kDescriptorEntriesStart;
  std::vector<uint8_t> FBytes;
};

uint16_t Little16(const std::vector<uint8_t>& ABytes, size_t AAt) {
  return static_cast<uint16_t>(ABytes[AAt] | ABytes[AAt + 1] << 8);
}

}  // namespace

std::optional<TDieRecord> FindDieRecord(const TBoardMemoryReader& ARead) {
  TTableReader table(ARead);
  std::vector<uint8_t> header, data;
  for (uint32_t at = kDescriptorEntriesStart; table.Bytes(at, kEntryHeader, header);
       at += static_cast<uint32_t>(kEntryHeader + header[1])) {
    const uint8_t tag = header[0], length = header[1];
    if (tag == kDescriptorBlankTag) return std::nullopt;
    if (tag != kDieRecordTag) continue;
    if (length < kDieRecordBytes || !table.Bytes(at + kEntryHeader, kDieRecordBytes, data)) return std::nullopt;
    if (std::all_of(data.begin(), data.end(), [](uint8_t AByte) { return AByte == 0xFF; })) return std::nullopt;
    return TDieRecord{static_cast<uint32_t>(Little16(data, 0) | Little16(data, 2) << 16), Little16(data, 4),
                      Little16(data, 6)};
  }
  return std::nullopt;
}

std::string BoardIdText(const TDieRecord& ADie) {
  char text[24];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X", static_cast<unsigned>(ADie.LotWafer),
                static_cast<unsigned>(ADie.DieX), static_cast<unsigned>(ADie.DieY));
  return text;
}

std::string ReadBoardId(TBsl& ABsl, TBslFailure* AFailure) {
  TBslFailure failure;
  const auto read = [&](uint32_t AAddress, uint32_t ACount, std::vector<uint8_t>& AOut) {
    TBytes reply;
    ABsl.cmd_ReadHex(static_cast<int>(AAddress), static_cast<int>(ACount), reply);
    failure = ABsl.LastFailure();
    const TBslAnswer answer = failure.Failed() ? TBslAnswer{} : ParseBslAnswer(reply);
    if (!failure.Failed() && answer.Kind == TBslAnswer::None) {
      failure.Kind = TBslFailureKind::BadAnswer;
      failure.Answer = AnswerExcerpt(reply);
    }
    // A data answer of exactly the bytes asked for; a message (the loader
    // does not know the command, or is locked) is none.
    if (answer.Kind != TBslAnswer::Data || answer.Bytes.size() != ACount) return false;
    AOut = answer.Bytes;
    return true;
  };
  const std::optional<TDieRecord> die = FindDieRecord(read);
  if (AFailure != nullptr) *AFailure = failure;
  return die && !failure.Failed() ? BoardIdText(*die) : std::string();
}

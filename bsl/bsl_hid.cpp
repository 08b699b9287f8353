#include "bsl_hid.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>

#include "BslProtocol.h"

namespace {

constexpr uint8_t kReportFill = 0xAC;   // padding after the core packet
constexpr size_t kReportHeader = 2;     // report ID and length byte
constexpr size_t kMaxCoreLength = 255;  // the length byte holds 8 bits
constexpr size_t kAddressBytes = 3;     // 24-bit addresses, LSB first
constexpr size_t kFastHeader = 1 + kAddressBytes;  // command byte and address

// How soon a wait for an answer sees a cancel.
constexpr uint32_t kCancelSliceMs = 50;

// The loader's program counter is loaded 4 bytes past the start line's
// address: the loader images begin their code there.
constexpr uint32_t kLoadPCOffset = 4;

void AppendAddress(TBytes& AOut, uint32_t AAddress) {
  for (size_t i = 0; i < kAddressBytes; ++i)
    AOut.push_back(static_cast<uint8_t>(AAddress >> (8 * i)));
}

// Address, then a 16-bit length, least significant byte first.
TBytes AddressAndLength(int AAddress, int ALength) {
  TBytes data;
  AppendAddress(data, static_cast<uint32_t>(AAddress));
  data.push_back(static_cast<uint8_t>(ALength));
  data.push_back(static_cast<uint8_t>(ALength >> 8));
  return data;
}

}  // namespace

TBytes AnswerExcerpt(const TBytes& AReport) {
  // The header and the core packet its length byte claims, at most enough
  // to see what came instead of an answer.
  constexpr size_t kExcerpt = 8;
  const size_t claimed = AReport.size() > 1 ? kReportHeader + AReport[1] : AReport.size();
  const size_t count = std::min({kExcerpt, claimed, AReport.size()});
  return TBytes(AReport.begin(), AReport.begin() + static_cast<long>(count));
}

namespace {

std::string Hex8(uint32_t AValue) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(AValue));
  return text;
}

}  // namespace

// ---- transport ----

void TBsl::LogMsg(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) {
  if (fonLogMsg) fonLogMsg(AID, AType, AMessage, AColor);
}

std::string TBsl::DeviceErrorText() const {
  const TJvHidDeviceError error = FHidDev->LastError();
  return error.DevicePath + ": " + error.Reason + " (error " + std::to_string(error.Code) + ")";
}

bool TBsl::OpenHidDev() {
  // Queue lengths of the synchronous and the read handle: room for every
  // answer a burst of commands can leave behind.
  constexpr uint32_t kQueueLength = 128;
  if (!FHidDev) return false;
  FHidDev->SetNumInputBuffers(kQueueLength);
  FHidDev->SetNumOverlappedBuffers(kQueueLength);
  return FHidDev->CheckOut() && FHidDev->OpenFile();
}

void TBsl::RecordFailure(TBslFailureKind AKind, uint32_t ACode, std::string AReason) {
  FLastFailure.Kind = AKind;
  FLastFailure.SystemCode = ACode;
  FLastFailure.SystemReason = std::move(AReason);
}

void TBsl::RecordDeviceFailure(TBslFailureKind AKind) {
  const TJvHidDeviceError error = FHidDev->LastError();
  RecordFailure(error.Gone ? TBslFailureKind::Gone : AKind, error.Code, error.Reason);
}

void TBsl::CountReport(bool AWritten, size_t ADataBytes) {
  if (AWritten) {
    FTally.DataBytes += ADataBytes;
    return;
  }
  if (FTally.FailedReports++ == 0) FTally.First = FLastFailure;
}

bool TBsl::SndPacket(const TBytes& ATxData) {
  if (!FHidDev) {
    RecordFailure(TBslFailureKind::NotWritten, 0, "no device");
    return false;
  }
  if (!FHidDev->OpenFile()) {
    LogMsg(13, mtDebug, "tx-err - " + DeviceErrorText(), clRed);
    RecordDeviceFailure(TBslFailureKind::NotWritten);
    return false;
  }
  const size_t length = FHidDev->Caps().OutputReportByteLength;
  const size_t count = ATxData.size();
  FLastFailure.ReportLength = static_cast<uint32_t>(length);
  if (count > kMaxCoreLength || kReportHeader + count > length) {
    const std::string reason = "packet of " + std::to_string(count) + " bytes does not fit a report of " +
                               std::to_string(length) + " bytes";
    LogMsg(13, mtDebug, "tx-err - " + reason, clRed);
    RecordFailure(TBslFailureKind::NotWritten, 0, reason);
    return false;
  }
  TBytes report(length, kReportFill);
  report[0] = kBslReportId;
  report[1] = static_cast<uint8_t>(count);
  std::copy(ATxData.begin(), ATxData.end(), report.begin() + kReportHeader);
  LogMsg(12, mtDebug,
         "tx[" + std::to_string(length) + "/" + std::to_string(count) + "]: " + BytesToHex(report),
         clBlue);
  uint32_t written = 0;
  const bool sent = FHidDev->WriteFile(report.data(), static_cast<uint32_t>(length), written);
  const bool ok = sent && written == length;
  LogMsg(13, mtDebug,
         std::string(ok ? "tx-ok" : "tx-err") + " - data written: " + std::to_string(written),
         clBlack);
  FLastFailure.Written = written;
  if (!sent) {
    LogMsg(13, mtDebug, "tx-err - " + DeviceErrorText(), clRed);
    RecordDeviceFailure(TBslFailureKind::NotWritten);
  } else if (!ok) {
    RecordFailure(TBslFailureKind::ShortWrite);
  }
  return ok;
}

namespace {

// How the one read of an answer ended, shared with its completion routine.
struct TReadEnd {
  bool Done = false;
  uint32_t Error = 0;
};

uint32_t MillisecondsSince(std::chrono::steady_clock::time_point AStart) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - AStart).count());
}

}  // namespace

bool TBsl::RcvPacket(TBytes& ARxData, bool AExpectAnswer) {
  const uint32_t length = FHidDev->Caps().InputReportByteLength;
  ARxData.assign(length, 0);
  if (length == 0) {  // a device without input reports cannot answer
    RecordFailure(TBslFailureKind::ReadFailed, 0, "the device has no input reports");
    return false;
  }
  auto end = std::make_shared<TReadEnd>();
  const bool started = FHidDev->ReadFileEx(
      ARxData.data(), length,
      [this, end](uint32_t AErrorCode, uint32_t ACount, const TJvOverlapped* AOvl) {
        end->Done = true;
        end->Error = AErrorCode;
        Dummy(AErrorCode, ACount, AOvl);
      });
  if (!started) {
    LogMsg(14, mtDebug, "rx-err - " + DeviceErrorText(), clRed);
    if (AExpectAnswer) RecordDeviceFailure(TBslFailureKind::ReadFailed);
    return false;
  }
  // Wait for the answer; a read still outstanding afterwards is cancelled so
  // that it never fills this buffer after it is gone, nor takes the answer
  // meant for a later command.
  const auto start = std::chrono::steady_clock::now();
  const auto waitFor = [&](uint32_t AMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
    while (!end->Done && !(FCancel && FCancel->load())) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      const auto slice = static_cast<uint32_t>(std::min<int64_t>(left.count(), kCancelSliceMs));
      if (!FHidDev->WaitForRead(slice) && !FHidDev->ReadPending()) break;
    }
  };
  waitFor(FAnswerTimeoutMs);
  const bool inTime = end->Done;
  if (!inTime && AExpectAnswer && FLateAnswerGraceMs > 0) waitFor(FLateAnswerGraceMs);
  const TReadEnd seen = *end;  // before a cancel delivers its abort
  const bool late = !inTime && seen.Done && seen.Error == 0;
  const uint32_t lateAfter = late ? MillisecondsSince(start) : 0;
  if (FHidDev->ReadPending()) FHidDev->CancelRead();
  if (late) std::fill(ARxData.begin(), ARxData.end(), 0);  // never taken as the answer
  LogMsg(14, mtDebug, "rx[" + std::to_string(length) + "]: " + BytesToHex(ARxData), clGreen);
  if (!AExpectAnswer) return true;  // Load PC: the loader leaves without a word
  if (seen.Done && seen.Error != 0 && !late) {
    // The read ended without an answer: the device left, or the system failed it.
    if (FHidDev->IsGoneError(seen.Error))
      RecordFailure(TBslFailureKind::Gone, seen.Error, "The device is not connected.");
    else
      RecordFailure(TBslFailureKind::ReadFailed, seen.Error, "the read ended with error " + std::to_string(seen.Error));
  } else if (!inTime) {
    FLastFailure.Kind = TBslFailureKind::NoAnswer;
    FLastFailure.WaitedMs = FAnswerTimeoutMs;
    FLastFailure.LateAfterMs = lateAfter;
  }
  return true;
}

void TBsl::Dummy(uint32_t ErrorCode, uint32_t Count, const TJvOverlapped* Ovl) {
  const uintptr_t event = Ovl ? Ovl->hEvent : 0;
  LogMsg(11, mtDebug,
         "@Dummy(ErrorCode: " + std::to_string(ErrorCode) + ",Count: " + std::to_string(Count) +
             ", Ovl: " + std::to_string(event) + ")",
         clBlack);
}

// ---- commands ----

bool TBsl::BSL_SendCommand(uint8_t ACommand, const TBytes& AData) {
  FLastFailure = TBslFailure{};
  FLastFailure.Command = ACommand;
  bool written = false;
  try {
    TBytes packet;
    packet.reserve(1 + AData.size());
    packet.push_back(ACommand);
    packet.insert(packet.end(), AData.begin(), AData.end());
    written = SndPacket(packet);
  } catch (const std::exception& e) {
    RecordFailure(TBslFailureKind::NotWritten, 0, e.what());
  }
  const bool data = ACommand == kBslRxDataBlockFast && AData.size() > kAddressBytes;
  CountReport(written, data ? AData.size() - kAddressBytes : 0);
  return written;
}

bool TBsl::BSL_SendCommand(uint8_t ACommand, const TBytes& AData, TBytes& ARXData) {
  // Open the read handle before writing, so an answer that comes at once is
  // queued for us, and drop what earlier commands left there: an answer
  // that came too late must not pass for this command's.
  if (FHidDev && FHidDev->OpenFileEx(omhRead)) FHidDev->FlushQueue();
  if (!BSL_SendCommand(ACommand, AData)) return false;
  return RcvPacket(ARXData, ACommand != kBslLoadPC);
}

bool TBsl::cmd_SendPassword(const TBsl_PasswordData& APassword) {
  const TBytes data(APassword.begin(), APassword.end());
  TBytes reply;
  if (!BSL_SendCommand(kBslRxPassword, data, reply) || FLastFailure.Failed()) return false;
  const TBslAnswer answer = ParseBslAnswer(reply);
  if (answer.Kind == TBslAnswer::Message && answer.Code == kBslMessageSuccess) return true;
  if (answer.Kind == TBslAnswer::Message) {
    RecordFailure(TBslFailureKind::Refused);
    FLastFailure.Message = answer.Code;
  } else {
    RecordFailure(TBslFailureKind::BadAnswer);
    FLastFailure.Answer = AnswerExcerpt(reply);
  }
  return false;
}

bool TBsl::cmd_TxBslVersion() {
  TBytes reply;
  return cmd_TxBslVersion(reply);
}

bool TBsl::cmd_TxBslVersion(TBytes& ARxData) { return BSL_SendCommand(kBslTxBslVersion, {}, ARxData); }

bool TBsl::cmd_WriteHex(int AAddress, const TBytes& AData, TBytes& ARxData) {
  TBytes data;
  AppendAddress(data, static_cast<uint32_t>(AAddress));
  data.insert(data.end(), AData.begin(), AData.end());
  return BSL_SendCommand(kBslRxDataBlock, data, ARxData);
}

size_t TBsl::MaxBlockLength() {
  const size_t length = FHidDev ? FHidDev->Caps().OutputReportByteLength : 0;
  if (length <= kReportHeader + kFastHeader) return std::numeric_limits<size_t>::max();
  return std::min(length, kReportHeader + kMaxCoreLength) - kReportHeader - kFastHeader;
}

bool TBsl::WriteFastBlock(uint32_t AAddress, const uint8_t* AData, size_t ACount) {
  LogMsg(0, mtDebug, "ADR: " + Hex8(AAddress) + "h, " + std::to_string(ACount), clGrayText);
  TBytes data;
  AppendAddress(data, AAddress);
  data.insert(data.end(), AData, AData + ACount);
  return BSL_SendCommand(kBslRxDataBlockFast, data);
}

bool TBsl::cmd_WriteHexFast(int AAddress, const TBytes& AData) {
  // A block longer than one report carries goes out as several fast writes
  // at consecutive addresses; the loader cannot tell the difference.
  const size_t block = MaxBlockLength();
  const uint32_t address = static_cast<uint32_t>(AAddress);
  if (AData.size() <= block) return WriteFastBlock(address, AData.data(), AData.size());
  for (size_t offset = 0; offset < AData.size(); offset += block) {
    const size_t count = std::min(block, AData.size() - offset);
    if (!WriteFastBlock(address + static_cast<uint32_t>(offset), AData.data() + offset, count))
      return false;
  }
  return true;
}

bool TBsl::cmd_ReadHex(int AAddress, int ALenght, TBytes& ARxData) {
  return BSL_SendCommand(kBslTxDataBlock, AddressAndLength(AAddress, ALenght), ARxData);
}

bool TBsl::cmd_CrcCheck(int AAddress, int ALength, TBytes& ARxData) {
  return BSL_SendCommand(kBslCrcCheck, AddressAndLength(AAddress, ALength), ARxData);
}

bool TBsl::cmd_LoadPC(int AAddress) {
  TBytes data;
  AppendAddress(data, static_cast<uint32_t>(AAddress) + kLoadPCOffset);
  TBytes reply;
  const bool result = BSL_SendCommand(kBslLoadPC, data, reply);
  // The loader has left for the started code: the next command reopens.
  if (FHidDev) FHidDev->CloseFile();
  return result;
}

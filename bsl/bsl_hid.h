// Client of the MSP430 USB bootstrap loader: frames BSL core packets into
// HID reports on a device it does not own and reads the loader's answers.
// Images go to the board through it (ImageWriter.h).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BslFailure.h"
#include "JvHidControllerClass.h"
#include "LogUtils.h"

class TBsl;

// The first bytes of a report that is no loader answer, kept in a failure.
TBytes AnswerExcerpt(const TBytes& AReport);

// Called by the image writer at each settings line, with the writing client.
using TBslSetCallback = std::function<void(TBsl* ABSL)>;
// A loader password: the 32 bytes of the interrupt vector table.
using TBsl_PasswordData = std::array<uint8_t, 32>;

class TBsl {
 public:
  // The loader answers within milliseconds, a mass erase included (about
  // 30 ms); a second leaves room for a loaded host and keeps a missing
  // answer (Load PC never answers) cheap.
  static constexpr uint32_t kAnswerTimeoutMs = 1000;

  TJvHidDevice* HidDev() const { return FHidDev; }
  void SetHidDev(TJvHidDevice* Value) { FHidDev = Value; }
  const TLogMsg& onLogMsg() const { return fonLogMsg; }
  void SetOnLogMsg(TLogMsg Value) { fonLogMsg = std::move(Value); }
  const TBslSetCallback& onSet() const { return fonSet; }
  void SetOnSet(TBslSetCallback Value) { fonSet = std::move(Value); }

  // How long a command waits for the loader's answer (tests shorten it).
  uint32_t AnswerTimeoutMs() const { return FAnswerTimeoutMs; }
  void SetAnswerTimeoutMs(uint32_t Value) { FAnswerTimeoutMs = Value; }
  // After a command's answer did not come in time, how much longer to
  // listen, only to tell a late answer from none (0: not at all). The
  // command has failed either way, and a late answer is never taken.
  uint32_t LateAnswerGraceMs() const { return FLateAnswerGraceMs; }
  void SetLateAnswerGraceMs(uint32_t Value) { FLateAnswerGraceMs = Value; }
  // Once *Value is set (by any thread), a command stops waiting for its
  // answer within a slice of the wait, as if none came (null: never).
  void SetCancel(const std::atomic<bool>* Value) { FCancel = Value; }

  // Why the last command failed (Kind None when it did not): set by every
  // command, so that a caller that got false knows what happened.
  const TBslFailure& LastFailure() const { return FLastFailure; }
  // The last command found the device gone from the bus.
  bool DeviceGone() const { return FLastFailure.Kind == TBslFailureKind::Gone; }
  // Reports written and failed since the last reset (an image's worth).
  const TBslWriteTally& Tally() const { return FTally; }
  void ResetTally() { FTally = {}; }

  // Prepares a device stored with SetHidDev without the controller's help.
  bool OpenHidDev();

  bool cmd_SendPassword(const TBsl_PasswordData& APassword);
  bool cmd_TxBslVersion();
  bool cmd_TxBslVersion(TBytes& ARxData);
  bool cmd_WriteHex(int AAddress, const TBytes& AData, TBytes& ARxData);
  bool cmd_WriteHexFast(int AAddress, const TBytes& AData);
  bool cmd_ReadHex(int AAddress, int ALenght, TBytes& ARxData);
  // CRC Check (0x16): the loader's CRC-CCITT over ALength bytes from
  // AAddress; the answer (data 3A, CRC low byte first) goes to ARxData.
  bool cmd_CrcCheck(int AAddress, int ALength, TBytes& ARxData);
  bool cmd_LoadPC(int AAddress);

 private:
  bool SndPacket(const TBytes& ATxData);
  // AExpectAnswer false: a missing answer is no failure (Load PC).
  bool RcvPacket(TBytes& ARxData, bool AExpectAnswer = true);
  void RecordFailure(TBslFailureKind AKind, uint32_t ACode = 0, std::string AReason = {});
  // The device's last error as the failure; Gone when it says the device left.
  void RecordDeviceFailure(TBslFailureKind AKind);
  void CountReport(bool AWritten, size_t ADataBytes);
  void Dummy(uint32_t ErrorCode, uint32_t Count, const TJvOverlapped* Ovl);
  void LogMsg(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor);
  // The device's path and why its last write or read failed, for the log.
  std::string DeviceErrorText() const;

  bool BSL_SendCommand(uint8_t ACommand, const TBytes& AData);
  bool BSL_SendCommand(uint8_t ACommand, const TBytes& AData, TBytes& ARXData);
  bool WriteFastBlock(uint32_t AAddress, const uint8_t* AData, size_t ACount);
  size_t MaxBlockLength();

  TJvHidDevice* FHidDev = nullptr;
  TLogMsg fonLogMsg;
  TBslSetCallback fonSet;
  uint32_t FAnswerTimeoutMs = kAnswerTimeoutMs;
  uint32_t FLateAnswerGraceMs = 0;
  const std::atomic<bool>* FCancel = nullptr;
  TBslFailure FLastFailure;
  TBslWriteTally FTally;
};

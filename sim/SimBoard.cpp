#include "SimBoard.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "BoardIds.h"
#include "SimBus.h"
#include "SimDevices.h"
#include "TiTxtFile.h"

namespace sim {

namespace {

// The loader's protocol as TI's guide gives it, written out here once more
// on purpose and not taken from the client's own table (bsl/BslProtocol.h):
// the board is the independent check of the client's bytes.
constexpr uint8_t kReportId = 0x3F;
constexpr uint8_t kAnswerData = 0x3A;
constexpr uint8_t kAnswerMessage = 0x3B;

// BSL core commands.
constexpr uint8_t kRxDataBlock = 0x10;
constexpr uint8_t kRxPassword = 0x11;
constexpr uint8_t kEraseSegment = 0x12;
constexpr uint8_t kToggleInfoA = 0x13;
constexpr uint8_t kMassErase = 0x15;
constexpr uint8_t kCrcCheck = 0x16;
constexpr uint8_t kLoadPC = 0x17;
constexpr uint8_t kTxDataBlock = 0x18;
constexpr uint8_t kTxBslVersion = 0x19;
constexpr uint8_t kTxBufferSize = 0x1A;
constexpr uint8_t kRxDataBlockFast = 0x1B;

// Message codes.
constexpr uint8_t kMsgSuccess = 0x00;
constexpr uint8_t kMsgWriteCheckFailed = 0x01;
constexpr uint8_t kMsgFlashFail = 0x02;
constexpr uint8_t kMsgLocked = 0x04;
constexpr uint8_t kMsgPasswordError = 0x05;
constexpr uint8_t kMsgUnknownCommand = 0x07;
constexpr uint8_t kMsgTooLong = 0x08;

constexpr size_t kAddressBytes = 3;  // 24-bit addresses, least significant first
constexpr size_t kLengthBytes = 2;
// The RAM loader's version: vendor TI, interpreter, full API, USB peripheral.
constexpr uint8_t kRamLoaderVersion[] = {0x00, 0x06, 0x00, 0x36};
// The started code leaves the bus right after the USB transaction ends.
constexpr uint32_t kLeaveDelayMs = 2;
// Smallest answer report: ID, length, answer kind and one byte.
constexpr size_t kMinAnswerReport = 4;

uint32_t Address24(const std::vector<uint8_t>& ACore) {
  return ACore[1] | (ACore[2] << 8) | (static_cast<uint32_t>(ACore[3]) << 16);
}

uint32_t Length16(const std::vector<uint8_t>& ACore) {
  return ACore[4] | (static_cast<uint32_t>(ACore[5]) << 8);
}

bool HasAddress(const std::vector<uint8_t>& ACore) { return ACore.size() >= 1 + kAddressBytes; }

// Old firmware the board arrives with: code, interrupt vectors and
// calibration data in information memory.
void PreloadOldFirmware(TMsp430Memory& AMemory) {
  constexpr uint32_t kOldCodeLength = 2048;
  std::vector<uint8_t> code(kOldCodeLength);
  uint32_t seed = 0x5EED1234;
  for (auto& byte : code) {
    seed = seed * 1664525u + 1013904223u;  // a plain LCG: repeatable content
    byte = static_cast<uint8_t>(seed >> 24);
  }
  AMemory.Preload(TMsp430Memory::kMainStart, code);
  std::vector<uint8_t> vectors;
  for (uint32_t i = 0; i < TMsp430Memory::kVectorLength / 2; ++i) {
    vectors.push_back(static_cast<uint8_t>(0x10 + 2 * i));  // a handler per vector
    vectors.push_back(0x44);
  }
  AMemory.Preload(TMsp430Memory::kVectorStart, vectors);
  AMemory.Preload(TMsp430Memory::kInfoStart, {0x4B, 0x53, 0x54, 0x01, 0x20, 0x26, 0x12, 0x09});
}

// The flash as an older firmware image left it.
void PreloadFirmwareFile(TMsp430Memory& AMemory, const std::string& AFileName) {
  try {
    AMemory.PreloadTiTxt(SplitTiTxtLines(ReadTiTxtFile(AFileName)));
  } catch (const std::exception& e) {
    throw std::invalid_argument("simulated board firmware \"" + AFileName + "\": " + e.what());
  }
}

}  // namespace

TSimBoard::TSimBoard(TSimBoardOptions AOptions)
    : FOptions(std::move(AOptions)),
      FLoaderWritten(TMsp430Memory::kRamEnd - TMsp430Memory::kRamStart, false) {
  VendorID = kBslVendorID;
  ProductID = kBslProductID;
  Manufacturer = "Texas Instruments";
  Product = "MSP430-USB Example";
  FrameTimed = FOptions.FrameTimed;
  InterruptEndpoints = kBslInterruptEndpoints;
  Port = FOptions.Port;
  if (!FOptions.Die) FOptions.Die = NextDieRecord();  // kept: the same chip if it is made again
  FMemory.Preload(kDescriptorTableStart, DescriptorTable(*FOptions.Die));
  if (FOptions.Firmware.empty())
    PreloadOldFirmware(FMemory);
  else
    PreloadFirmwareFile(FMemory, FOptions.Firmware);
}

TSimBoard::~TSimBoard() = default;

uint32_t TSimBoard::PlugInto(TSimBus& ABus) {
  SetHomeBus(ABus);
  return ABus.Plug(shared_from_this());
}

void TSimBoard::SetHomeBus(TSimBus& ABus) {
  std::lock_guard lock(FLock);
  FHomeBus = &ABus;
}

// ---- what comes in ----

uint32_t TSimBoard::OnOutputReport(const uint8_t* AData, uint32_t ALength) {
  std::optional<uint32_t> accepted;
  TOutcome outcome;
  std::chrono::microseconds programming{0};
  bool pulled = false;
  {
    std::lock_guard lock(FLock);
    const uint64_t programmed = FMemory.FlashWordsProgrammed();
    if (!FHomeBus) FHomeBus = Bus;
    const uint32_t report = ++FReports;
    FReportLog.push_back(Record(AData, ALength));
    if (FOptions.UnplugAt == report) {
      pulled = true;
    } else if (FOptions.ShortWrite && *FOptions.ShortWrite < ALength) {
      accepted = *FOptions.ShortWrite;  // a cut report is no command
      FaultShownLocked();
    } else if (FOptions.CutReport == report) {
      accepted = std::min(kCutReportBytes, ALength);
    } else {
      outcome = Process(AData, ALength);
      SpoilAnswers(report, outcome);
    }
    if (FOptions.DropAfterReports != 0 && report == FOptions.DropAfterReports) {
      FState = TBoardState::Away;
      outcome.Leave = false;  // for good, right after this report
      FLeaveAfterWrite = true;
      ++FTrip;
    }
    programming = std::chrono::microseconds((FMemory.FlashWordsProgrammed() - programmed) * FOptions.FlashWordUs);
  }
  if (pulled) {
    PullCable();
    return 0;
  }
  // The loader takes the next report, and answers this one, once the flash
  // is programmed.
  if (programming.count() > 0) std::this_thread::sleep_for(programming);
  Deliver(std::move(outcome));
  return accepted.value_or(ALength);
}

TReportRecord TSimBoard::Record(const uint8_t* AData, uint32_t ALength) {
  TReportRecord record;
  const uint32_t length = ALength >= 2 ? std::min<uint32_t>(AData[1], ALength - 2) : 0;
  if (length == 0) return record;
  record.Command = AData[2];
  if ((record.Command == kRxDataBlockFast || record.Command == kRxDataBlock) && length > 1 + kAddressBytes) {
    const uint8_t* data = AData + 2 + 1 + kAddressBytes;
    record.DataBytes = length - 1 - static_cast<uint32_t>(kAddressBytes);
    record.Erased = std::all_of(data, data + record.DataBytes, [](uint8_t b) { return b == 0xFF; });
  }
  return record;
}

// A board leaves only once the report that sent it away was taken whole.
void TSimBoard::AfterOutputReport() {
  TSimBus* bus = nullptr;
  bool dropped = false;
  std::optional<bool> trip;
  {
    std::lock_guard lock(FLock);
    dropped = std::exchange(FLeaveAfterWrite, false);
    trip = std::exchange(FTripAfterWrite, std::nullopt);
    bus = FHomeBus;
  }
  if (trip) LeaveBus(*trip);
  if (dropped && bus) bus->Unplug(this);
}

// What a fault plan does to the answers of one report.
void TSimBoard::SpoilAnswers(uint32_t AReport, TOutcome& AOut) const {
  constexpr uint8_t kGarble = 0x5A;  // no answer kind (3A, 3B) survives it
  if (FOptions.SilentAt == AReport) AOut.Answers.clear();
  for (TReport& answer : AOut.Answers) {
    if (FOptions.GarbleAt == AReport) answer[2] ^= kGarble;
    if (FOptions.WrongLengthAt == AReport) ++answer[1];
  }
  if (FOptions.LateAt == AReport) AOut.AnswerDelayMs = FOptions.LateByMs;
}

TSimBoard::TOutcome TSimBoard::Process(const uint8_t* AData, uint32_t ALength) {
  TOutcome out;
  if (FState == TBoardState::Away || ALength < 2 || AData[0] != kReportId) return out;
  const uint32_t length = AData[1];
  if (length > kLoaderBuffer || length > ALength - 2) {
    out.Answers.push_back(Message(kMsgTooLong));
    return out;
  }
  if (length == 0) return out;  // no command byte: nothing to do
  Interpret(std::vector<uint8_t>(AData + 2, AData + 2 + length), out);
  return out;
}

void TSimBoard::Interpret(const std::vector<uint8_t>& ACore, TOutcome& AOut) {
  const uint8_t command = ACore[0];
  if (command == kRxPassword) return CheckPassword(ACore, AOut);
  if (!FUnlocked) {
    if (command != kRxDataBlockFast) AOut.Answers.push_back(Message(kMsgLocked));
    return;  // fast writes are ignored without a word
  }
  if (FState == TBoardState::ResidentLoader)
    RunResident(ACore, AOut);
  else
    RunRamLoader(ACore, AOut);
}

void TSimBoard::CheckPassword(const std::vector<uint8_t>& ACore, TOutcome& AOut) {
  const auto table = FMemory.VectorTable();
  const bool right = ACore.size() == 1 + table.size() && std::equal(table.begin(), table.end(), ACore.begin() + 1);
  const bool refused = right && FOptions.RefusePassword;
  if (refused) FaultShownLocked();
  if (right && !refused) {
    FUnlocked = true;
    AOut.Answers.push_back(Message(kMsgSuccess));
    return;
  }
  // A wrong password costs the firmware, not the information memory.
  FMemory.MassErase();
  FUnlocked = false;
  AOut.Answers.push_back(Message(kMsgPasswordError));
}

void TSimBoard::RunResident(const std::vector<uint8_t>& ACore, TOutcome& AOut) {
  const uint8_t command = ACore[0];
  if (command == kRxDataBlockFast && HasAddress(ACore)) {
    WriteFast(Address24(ACore), ACore, true);
  } else if (command == kLoadPC && HasAddress(ACore)) {
    LoadPC(Address24(ACore), AOut);
  } else if (command != kRxDataBlockFast) {
    AOut.Answers.push_back(Message(kMsgUnknownCommand));
  }
}

void TSimBoard::RunRamLoader(const std::vector<uint8_t>& ACore, TOutcome& AOut) {
  const uint8_t command = ACore[0];
  const auto& unknown = FOptions.UnknownCommands;
  if (std::find(unknown.begin(), unknown.end(), command) != unknown.end()) {
    AOut.Answers.push_back(Message(kMsgUnknownCommand));  // a loader built without it
    return;
  }
  const bool address = HasAddress(ACore);
  const bool range = ACore.size() >= 1 + kAddressBytes + kLengthBytes;
  if (command == kRxDataBlock && address) {
    const uint8_t* data = ACore.data() + 1 + kAddressBytes;
    MarkLoaderWritten(Address24(ACore), ACore.size() - 1 - kAddressBytes);
    switch (FMemory.Program(Address24(ACore), data, ACore.size() - 1 - kAddressBytes)) {
      case TProgramResult::Ok: AOut.Answers.push_back(Message(kMsgSuccess)); break;
      case TProgramResult::Mismatch: AOut.Answers.push_back(Message(kMsgWriteCheckFailed)); break;
      case TProgramResult::Refused: AOut.Answers.push_back(Message(kMsgFlashFail)); break;
    }
  } else if (command == kRxDataBlockFast && address) {
    // A report lost on the bus: accepted without an answer, as always, but
    // never stored.
    if (++FRamFastWrites != FOptions.LoseWrite)
      WriteFast(Address24(ACore), ACore, false);
    else
      FaultShownLocked();
  } else if (command == kEraseSegment && address) {
    AOut.Answers.push_back(Message(FMemory.EraseSegment(Address24(ACore)) ? kMsgSuccess : kMsgFlashFail));
  } else if (command == kToggleInfoA) {
    FMemory.ToggleInfoALock();
    AOut.Answers.push_back(Message(kMsgSuccess));
  } else if (command == kMassErase) {
    FMemory.MassErase();
    AOut.Answers.push_back(Message(kMsgSuccess));
  } else if (command == kCrcCheck && range) {
    const uint16_t crc = FMemory.Crc(Address24(ACore), Length16(ACore));
    SendData({static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)}, AOut);
  } else if (command == kLoadPC && address) {
    LoadPC(Address24(ACore), AOut);
  } else if (command == kTxDataBlock && range) {
    SendData(FMemory.Read(Address24(ACore), Length16(ACore)), AOut);
  } else if (command == kTxBslVersion) {
    SendData(std::vector<uint8_t>(std::begin(kRamLoaderVersion), std::end(kRamLoaderVersion)), AOut);
  } else if (command == kTxBufferSize) {
    SendData({static_cast<uint8_t>(kLoaderBuffer), 0x00}, AOut);
  } else if (command != kRxDataBlockFast) {
    AOut.Answers.push_back(Message(kMsgUnknownCommand));
  }
}

void TSimBoard::WriteFast(uint32_t AAddress, const std::vector<uint8_t>& ACore, bool ARamOnly) {
  const size_t count = ACore.size() - 1 - kAddressBytes;
  const uint32_t end = AAddress + static_cast<uint32_t>(count);
  // The resident loader writes RAM only; anything else is dropped whole.
  if (ARamOnly && (AAddress < TMsp430Memory::kRamStart || end > TMsp430Memory::kRamEnd)) return;
  MarkLoaderWritten(AAddress, count);
  FMemory.Program(AAddress, ACore.data() + 1 + kAddressBytes, count);
}

// Whichever loader writes into RAM writes a loader image there: the RAM
// loader running from it stores the same bytes over itself, and a jump to
// their entry starts it again.
void TSimBoard::MarkLoaderWritten(uint32_t AAddress, size_t ACount) {
  const uint64_t end = std::min<uint64_t>(uint64_t{AAddress} + ACount, TMsp430Memory::kRamEnd);
  for (uint64_t at = std::max<uint64_t>(AAddress, TMsp430Memory::kRamStart); at < end; ++at)
    FLoaderWritten[at - TMsp430Memory::kRamStart] = true;
}

void TSimBoard::LoadPC(uint32_t ATarget, TOutcome& AOut) {
  // The loader jumps away and the board leaves the bus. Only a jump into
  // the loader image written into RAM (its start line's address + 4, which
  // the client sends, wherever its data begin) brings it back, unlocked,
  // with the RAM loader; anything else leaves it hung.
  const bool entry = ATarget >= TMsp430Memory::kRamStart && ATarget < TMsp430Memory::kRamEnd &&
                     FLoaderWritten[ATarget - TMsp430Memory::kRamStart];
  FState = TBoardState::Away;
  AOut.Leave = true;
  AOut.ComeBack = entry && !FOptions.NoReturn;
  if (entry && FOptions.NoReturn) FaultShownLocked();
}

// ---- what goes out ----

TSimBoard::TReport TSimBoard::Message(uint8_t ACode) const {
  TReport report(std::max<size_t>(InputReportLength, kMinAnswerReport), 0x00);
  report[0] = kReportId;
  report[1] = 2;
  report[2] = kAnswerMessage;
  report[3] = ACode;
  return report;
}

void TSimBoard::SendData(const std::vector<uint8_t>& AData, TOutcome& AOut) const {
  // Long answers go out in several reports, each as full as the report allows.
  const size_t length = std::max<size_t>(InputReportLength, kMinAnswerReport);
  const size_t perReport = std::min<size_t>(length, 2 + kLoaderBuffer) - 3;
  size_t offset = 0;
  do {
    const size_t count = std::min(perReport, AData.size() - offset);
    TReport report(length, 0x00);
    report[0] = kReportId;
    report[1] = static_cast<uint8_t>(1 + count);
    report[2] = kAnswerData;
    std::copy_n(AData.begin() + static_cast<long>(offset), count, report.begin() + 3);
    AOut.Answers.push_back(std::move(report));
    offset += count;
  } while (offset < AData.size());
}

void TSimBoard::Deliver(TOutcome AOutcome) {
  for (auto& answer : AOutcome.Answers) SendAnswer(std::move(answer), AOutcome.AnswerDelayMs);
  if (!AOutcome.Leave) return;
  std::lock_guard lock(FLock);
  FTripAfterWrite = AOutcome.ComeBack;
}

void TSimBoard::SendAnswer(TReport AAnswer, uint32_t ADelayMs) {
  uint32_t delay = ADelayMs;
  TSimBus* bus = nullptr;
  {
    std::lock_guard lock(FLock);
    if (FOptions.NoAnswer) {
      FaultShownLocked();
      return;
    }
    delay += FOptions.AnswerDelayMs;
    if (FOptions.AnswerDelayMs > 0) FaultShownLocked();
    bus = FHomeBus;
  }
  if (!bus) return;
  if (delay == 0) {
    bus->PushInputReport(this, std::move(AAnswer));
    return;
  }
  FTimer.Schedule(delay, [self = weak_from_this(), answer = std::move(AAnswer)]() mutable {
    auto board = self.lock();
    if (!board) return;
    TSimBus* home = nullptr;
    {
      std::lock_guard lock(board->FLock);
      home = board->FHomeBus;  // none once the board is retired
    }
    if (home) home->PushInputReport(board.get(), std::move(answer));
  });
}

void TSimBoard::LeaveBus(bool AComeBack) {
  TSimBus* bus = nullptr;
  uint32_t returnDelay = 0;
  uint64_t trip = 0;
  bool held = false;
  {
    std::lock_guard lock(FLock);
    bus = FHomeBus;
    returnDelay = FOptions.ReturnDelayMs;
    std::fill(FLoaderWritten.begin(), FLoaderWritten.end(), false);  // the entry is forgotten
    trip = ++FTrip;
    held = AComeBack && FOptions.HoldReturn;
    FAwaitingReturn = held;
  }
  if (!bus) return;
  // The trip holds the board: off the bus, nobody else may (a board that the
  // environment plugged in belongs to the bus alone).
  auto board = weak_from_this().lock();
  if (!board) return;
  FTimer.Schedule(kLeaveDelayMs, [board, bus, trip]() {
    {
      std::lock_guard lock(board->FLock);
      if (board->FTrip != trip) return;  // unplugged or back already
    }
    bus->Unplug(board.get());
  });
  if (!AComeBack || held) return;
  FTimer.Schedule(kLeaveDelayMs + returnDelay, [board, trip]() { board->ComeBack(trip); });
}

// The board comes back from trip ATrip: with the RAM loader, unlocked (it
// was entered at its entry), or, when it lost what RAM held on the way,
// with its resident loader, locked.
void TSimBoard::ComeBack(uint64_t ATrip) {
  TSimBus* bus = nullptr;
  {
    std::lock_guard lock(FLock);
    if (ATrip != FTrip) return;
    ++FTrip;
    FAwaitingReturn = false;
    if (FOptions.ReturnResident) {
      PowerOffLocked();
      FState = TBoardState::ResidentLoader;
      FaultShownLocked();
    } else {
      FState = TBoardState::RamLoader;
      FUnlocked = true;
      FRamFastWrites = 0;
    }
    if (FOptions.FirstOpenFails) {
      NotReadyAtFirstLook = true;
      FaultShownLocked();
    }
    bus = FHomeBus;
  }
  if (bus && !bus->IsPlugged(this)) bus->Plug(shared_from_this());
}

void TSimBoard::PowerOffLocked() {
  ++FTrip;
  FAwaitingReturn = false;
  FState = TBoardState::Away;
  FUnlocked = false;
  FRamFastWrites = 0;
  std::fill(FLoaderWritten.begin(), FLoaderWritten.end(), false);
  FMemory.PowerOff();
}

void TSimBoard::FaultShownLocked() {
  if (!FOptions.Once) return;
  // What the board is, kept; what goes wrong with it, dropped.
  TSimBoardOptions good;
  good.ReturnDelayMs = FOptions.ReturnDelayMs;
  good.HoldReturn = FOptions.HoldReturn;
  good.FrameTimed = FOptions.FrameTimed;
  good.Firmware = FOptions.Firmware;
  good.UnknownCommands = FOptions.UnknownCommands;
  good.Port = FOptions.Port;
  good.Die = FOptions.Die;
  good.FlashWordUs = FOptions.FlashWordUs;
  FOptions = std::move(good);
}

// ---- what a technician does ----

bool TSimBoard::Unplug() {
  TSimBus* bus = nullptr;
  {
    std::lock_guard lock(FLock);
    if (!FCableIn) return false;
    FCableIn = false;
    PowerOffLocked();
    bus = FHomeBus;
  }
  if (bus) bus->Unplug(this);
  return true;
}

bool TSimBoard::Replug() {
  TSimBus* bus = nullptr;
  {
    std::lock_guard lock(FLock);
    bus = FHomeBus;
    if (!bus || FCableIn) return false;
    FCableIn = true;
    PowerOffLocked();  // whatever it was doing off the bus is over
    FState = TBoardState::ResidentLoader;
  }
  bus->Plug(shared_from_this());  // a hub without time left for it refuses it, and says so
  return true;
}

// Off its bus for good before the bus goes: the cable out, every trip,
// replug and late answer still due dropped, and one that is running
// finished.
void TSimBoard::BusGone(TSimBus& ABus) {
  {
    std::lock_guard lock(FLock);
    if (FHomeBus != &ABus) return;
  }
  Unplug();
  {
    std::lock_guard lock(FLock);
    ++FTrip;
    FHomeBus = nullptr;
  }
  FTimer.Drain();
}

bool TSimBoard::CableIn() const {
  std::lock_guard lock(FLock);
  return FCableIn;
}

void TSimBoard::Return() {
  uint64_t trip = 0;
  {
    std::lock_guard lock(FLock);
    if (!FAwaitingReturn) return;
    trip = FTrip;
  }
  ComeBack(trip);
}

bool TSimBoard::AwaitingReturn() const {
  std::lock_guard lock(FLock);
  return FAwaitingReturn;
}

// The cable pulled at a report (UnplugAt), and plugged back later when asked.
void TSimBoard::PullCable() {
  Unplug();
  uint32_t replug = 0;
  uint64_t trip = 0;
  {
    std::lock_guard lock(FLock);
    replug = FOptions.ReplugAfterMs;
    trip = FTrip;
  }
  auto board = weak_from_this().lock();
  if (replug == 0 || !board) return;
  FTimer.Schedule(replug, [board, trip]() {
    {
      std::lock_guard lock(board->FLock);
      if (board->FTrip != trip) return;
    }
    board->Replug();
  });
}

// ---- inspection ----

TSimBoardOptions TSimBoard::Options() const {
  std::lock_guard lock(FLock);
  return FOptions;
}

TBoardState TSimBoard::State() const {
  std::lock_guard lock(FLock);
  return FState;
}

bool TSimBoard::Unlocked() const {
  std::lock_guard lock(FLock);
  return FUnlocked;
}

uint32_t TSimBoard::ReportsReceived() const {
  std::lock_guard lock(FLock);
  return FReports;
}

std::vector<TReportRecord> TSimBoard::ReportLog() const {
  std::lock_guard lock(FLock);
  return FReportLog;
}

std::vector<uint8_t> TSimBoard::ReadMemory(uint32_t AAddress, size_t ACount) const {
  std::lock_guard lock(FLock);
  return FMemory.Read(AAddress, ACount);
}

std::string TSimBoard::DumpTiTxt() const {
  std::lock_guard lock(FLock);
  return FMemory.DumpTiTxt();
}

void TSimBoard::Preload(uint32_t AAddress, const std::vector<uint8_t>& ABytes) {
  std::lock_guard lock(FLock);
  FMemory.Preload(AAddress, ABytes);
}

void TSimBoard::SetAnswerDelayMs(uint32_t AValue) {
  std::lock_guard lock(FLock);
  FOptions.AnswerDelayMs = AValue;
}

void TSimBoard::SetNoAnswer(bool AValue) {
  std::lock_guard lock(FLock);
  FOptions.NoAnswer = AValue;
}

}  // namespace sim

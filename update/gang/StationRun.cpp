#include "StationRun.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <filesystem>

#include "ExitCodes.h"
#include "GangRun.h"
#include "ImageWriter.h"
#include "LogFile.h"
#include "PlainEventLoop.h"
#include "SimRun.h"
#include "Station.h"
#include "StationBoardEvents.h"
#include "UpdateCauseText.h"
#include "Utf8.h"

namespace {

constexpr auto kRequestPoll = std::chrono::milliseconds(100);  // a refused station looks for a new reading
constexpr uint32_t kFirstPassMs = 200;                         // the device list is complete after the first pass

// The scans of a barcode scanner: a serial is taken only while a board
// waits for one, and goes to the board that has waited longest.
class TScans : public ISerialSource {
 public:
  TState Next(std::string& ASerial) override {
    std::lock_guard lock(FLock);
    if (!FSerial) {
      FWanted = true;
      return TState::Waiting;
    }
    ASerial = std::move(*FSerial);
    FSerial.reset();
    return TState::Ready;
  }
  bool Offer(const std::string& ASerial) {
    std::lock_guard lock(FLock);
    if (!FWanted) return false;
    FWanted = false;  // until the next board asks
    FSerial = ASerial;
    return true;
  }
  void NoneWanted() {
    std::lock_guard lock(FLock);
    FWanted = false;
    FSerial.reset();
  }

 private:
  std::mutex FLock;
  bool FWanted = false;
  std::optional<std::string> FSerial;
};

std::string Trimmed(const std::string& AText) {
  const size_t first = AText.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return AText.substr(first, AText.find_last_not_of(" \t\r\n") - first + 1);
}

std::string FileName(const std::string& APath) { return PathToUtf8(Utf8ToPath(APath).filename()); }

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (const std::tm* converted = std::localtime(&now)) local = *converted;
  return local;
}

// "Line 3 2026-12-10.log": the station's name, with what a file name cannot hold replaced.
std::string DailyLogName(const std::string& AStation) {
  std::string name = AStation;
  for (char& c : name)
    if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos || static_cast<unsigned char>(c) < 0x20) c = '_';
  const std::tm day = LocalNow();
  char date[48];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
  return (name.empty() ? std::string("station") : name) + " " + date + ".log";
}

TStationHeader HeaderOf(const TStation& AStation) {
  TStationHeader header;
  header.File = AStation.File;
  header.Name = AStation.Name;
  header.LoaderName = FileName(AStation.LoaderFile);
  header.LoaderSha8 = AStation.LoaderSha256.substr(0, 8);
  header.FirmwareName = FileName(AStation.FirmwareFile);
  header.FirmwareSha8 = AStation.FirmwareSha256.substr(0, 8);
  header.Apn = AStation.Texts[0];
  header.Login = AStation.Texts[1];
  header.PasswordLength = Utf8ToUtf16(AStation.Texts[2]).size();
  header.SerialRequired = AStation.SerialRequired;
  for (size_t i = 0; i < AStation.Ports.size(); ++i) header.Slots.push_back({AStation.Ports[i], AStation.Labels[i]});
  return header;
}

}  // namespace

class TStationRun::TImpl : public IGangFront {
 public:
  TImpl(TStationSetup ASetup, IStationFront& AFront) : FSetup(std::move(ASetup)), FFront(AFront) {
    FThread = std::thread([this] { Run(); });
  }
  ~TImpl() override {
    Stop();
    FThread.join();
  }

  bool Scan(const std::string& ASerial, std::string& AWhy) {
    const std::string serial = Trimmed(ASerial);
    if (serial.empty()) {
      AWhy = "The scan was empty: scan the board's serial again.";
      return false;
    }
    if (!FSerialsAsked.load()) {
      AWhy = "Serial " + serial + " not taken: this station asks for no serials.";
      return false;
    }
    if (!FScans.Offer(serial)) {
      AWhy = "Serial " + serial + " not taken: no board waits for a serial. Connect the board, then scan its serial.";
      return false;
    }
    Wake();
    return true;
  }
  void Request(std::atomic<bool>& AFlag) {
    AFlag.store(true);
    Wake();
  }
  void Stop() { Request(FStop); }

  std::atomic<bool> FAgain{false}, FReload{false};

  // ---- the gang's front, on the station's thread ----
  std::shared_ptr<update::IUpdateEvents> Events(const std::string& APort, const TBoardTags& ATags) override {
    FFront.Started(APort, ATags.Serial);
    if (FFirstStart == std::chrono::steady_clock::time_point{}) FFirstStart = std::chrono::steady_clock::now();
    if (FLog && DailyLogName(FStation.Name) != FLogName) OpenDailyLog();  // past midnight: the next day's file
    return std::make_shared<TStationBoardEvents>(APort, FFront, FLog);
  }
  void Line(const std::string& AText) override {
    Log(AText);
    FFront.Said(AText);
  }
  void Result(const std::string& APort, const std::string& AText, bool) override {
    Log("[" + update::PortText(APort) + "] " + AText);
  }
  void Arrived(const std::string& APort) override { FFront.Arrived(APort); }
  void WaitsForSerial(const std::string& APort) override { FFront.WaitsForSerial(APort); }
  void SerialTaken(const std::string& APort, const std::string& ASerial) override {
    Log("[" + update::PortText(APort) + "] serial " + ASerial);
  }
  void Ended(const TBoardEnd& AEnd) override;

 private:
  void Run();
  bool ReadStation();
  void StartBus();
  std::vector<update::TBoardSeen> NewBoards();
  void Idle();
  void WaitForRequest();
  // The daily log of today; a file that cannot be opened leaves the last one.
  void OpenDailyLog() {
    const std::string name = DailyLogName(FStation.Name);
    auto log = std::make_shared<TLogFile>(PathToUtf8(Utf8ToPath(FLogFolder) / Utf8ToPath(name)));
    if (!log->Good()) return;
    FLog = std::move(log);
    FLogName = name;
  }
  void Log(const std::string& AText) {
    if (FLog) FLog->Write(AText);
  }
  void Wake() {
    {
      std::lock_guard lock(FWakeLock);
      FWoken = true;
      if (FLoop) FLoop->Wake();
    }
    FWakeSignal.notify_all();
  }

  const TStationSetup FSetup;
  IStationFront& FFront;
  std::atomic<bool> FStop{false}, FSerialsAsked{false};
  TScans FScans;
  std::mutex FWakeLock;
  std::condition_variable FWakeSignal;
  bool FWoken = false;

  // The station's thread alone from here on.
  TStation FStation;
  update::TUpdateOptions FUpdate;
  std::unique_ptr<TRecordFile> FRecord;
  std::string FLogFolder, FLogName;
  std::shared_ptr<TLogFile> FLog;  // shared with the boards' events: a new day's file may come while they run
  TNewBoards FNewBoards;
  std::unique_ptr<TSimRun> FSim;
  std::unique_ptr<hid::TPlainEventLoop> FLoop;  // set under FWakeLock
  std::shared_ptr<TJvHidDeviceController> FController;
  std::shared_ptr<update::TBoardPorts> FPorts;
  std::unique_ptr<TBoardRuns> FRuns;
  TGangSetup* FGang = nullptr;
  std::vector<std::string> FToldUnlisted;
  bool FToldUnknown = false;
  TShiftTotals FTotals;
  std::chrono::steady_clock::time_point FFirstStart{};
  std::thread FThread;  // last: starts once everything else is there
};

void TStationRun::TImpl::Run() {
  try {
    while (!FStop.load() && !ReadStation()) WaitForRequest();
    if (FStop.load()) return;
    StartBus();
    TGangSetup gang{.Repeat = true,
                    .Interrupted = [this] { return FStop.load(); },
                    .Runs = *FRuns,
                    .NewBoards = [this] { return NewBoards(); },
                    .Update = FUpdate,
                    .Front = *this,
                    .Serials = FStation.SerialRequired ? &FScans : nullptr,
                    .Station = FStation.Name,
                    .RefuseUnknownPorts = false,
                    .Again = &FAgain,
                    .Idle = [this] { Idle(); }};
    FGang = &gang;
    RunGang(gang);
    FGang = nullptr;
    if (FSim) FSim->WriteDump();
  } catch (const std::exception& e) {
    FFront.Refused(std::string("The station stopped: ") + e.what());
  }
}

// Reads the station file and everything it names; false, with the reason
// told, when it cannot be used (what was read before stays).
bool TStationRun::TImpl::ReadStation() {
  try {
    TStation station = ReadStationFile(FSetup.File);
    update::TUpdateOptions update = FUpdate;
    update.Settings = StationSettings(station);
    update.LoaderFile = station.LoaderFile;
    update.FirmwareFile = station.FirmwareFile;
    try {
      update.Loader = std::make_shared<TTiTxtImage>(ReadTiTxtImage(station.LoaderFile, TTiTxtImageKind::Loader));
      update.Firmware = std::make_shared<TTiTxtImage>(ReadTiTxtImage(station.FirmwareFile, TTiTxtImageKind::Application));
    } catch (const ETiTxtImageError& e) {
      throw EStationRefused(ImageRefusalText(e));
    }
    CheckPinnedImage(station, *update.Loader, true);
    CheckPinnedImage(station, *update.Firmware, false);
    auto record = std::make_unique<TRecordFile>(station.RecordFile);
    if (!record->Good()) throw EStationRefused("the record file \"" + station.RecordFile + "\" cannot be written");
    const std::string folder =
        FSetup.LogFolder.empty() ? PathToUtf8(Utf8ToPath(station.RecordFile).parent_path()) : FSetup.LogFolder;
    const std::string logName = DailyLogName(station.Name);
    auto log = std::make_shared<TLogFile>(PathToUtf8(Utf8ToPath(folder) / Utf8ToPath(logName)));
    if (!log->Good()) throw EStationRefused("the station's daily log cannot be written in \"" + folder + "\"");
    update.Take = [this](TJvHidDevice* ADevice) { return !FNewBoards.Done(ADevice); };
    update.Name = "Update";
    update.BlockBytes = station.Fast ? kWriteFullReports : kWriteLineByLine;
    update.SettingsPause = station.Fast ? std::chrono::milliseconds(0) : std::chrono::milliseconds(100);
    FStation = std::move(station);
    FUpdate = std::move(update);
    FRecord = std::move(record);
    if (FRuns) FRuns->SetRecord(FRecord.get());
    FLog = std::move(log);
    FLogFolder = folder;
    FLogName = logName;
    FSerialsAsked.store(FStation.SerialRequired);
    if (!FStation.SerialRequired) FScans.NoneWanted();
    Log("station \"" + FStation.Name + "\" from \"" + FStation.File + "\"");
    FFront.Header(HeaderOf(FStation));
    return true;
  } catch (const EStationRefused& e) {
    FFront.Refused(OneLine(e.what()));
    return false;
  }
}

void TStationRun::TImpl::StartBus() {
  FSim = TSimRun::FromEnvironment();
  {
    std::lock_guard lock(FWakeLock);
    FLoop = std::make_unique<hid::TPlainEventLoop>();
  }
  FController = std::make_shared<TJvHidDeviceController>(nullptr, FSim ? FSim->Platform() : FSetup.Platform);
  FController->OnRemoval = [this](TJvHidDevice* ADevice) { FNewBoards.Forget(ADevice); };
  FPorts = std::make_shared<update::TBoardPorts>(FController);
  FRuns = std::make_unique<TBoardRuns>(*FLoop, FPorts, FNewBoards, FRecord.get(),
                                       [this](const TBoardEnd& AEnd, const TBoardRecord&, bool AWritten) {
                                         if (!AWritten)
                                           Line("The record of the board at " + update::PortText(AEnd.Port) +
                                                " could not be written to \"" + FStation.RecordFile + "\".");
                                       });
  FLoop->RunFor(0);
  FLoop->RunFor(kFirstPassMs);
}

// The new boards at the station's ports; what the header says of the others.
std::vector<update::TBoardSeen> TStationRun::TImpl::NewBoards() {
  const std::vector<update::TBoardSeen> all = FPorts->Present(&IsLoaderBoard);
  std::vector<std::string> unlisted;
  bool unknown = false;
  for (const update::TBoardSeen& board : all) {
    unknown = unknown || board.Port.empty();
    const auto& ports = FStation.Ports;
    if (!ports.empty() && !board.Port.empty() && std::find(ports.begin(), ports.end(), board.Port) == ports.end())
      unlisted.push_back(board.Port);
  }
  if (unlisted != FToldUnlisted || unknown != FToldUnknown) FFront.Bus(unlisted, unknown);
  FToldUnlisted = unlisted;
  FToldUnknown = unknown;
  // A board whose port the system does not tell cannot be matched with
  // the station's ports: it is taken, one at a time.
  std::vector<update::TBoardSeen> fresh = FPorts->Present([this](TJvHidDevice* ADevice) { return FNewBoards.IsNew(ADevice); });
  std::erase_if(fresh, [&](const update::TBoardSeen& ABoard) {
    return std::find(unlisted.begin(), unlisted.end(), ABoard.Port) != unlisted.end();
  });
  return fresh;
}

// Between boards: the station file is read again when asked.
void TStationRun::TImpl::Idle() {
  if (!FReload.exchange(false) || !ReadStation()) return;
  FGang->Serials = FStation.SerialRequired ? &FScans : nullptr;
  FGang->Station = FStation.Name;
}

// A station that cannot run waits to be read again, or to end.
void TStationRun::TImpl::WaitForRequest() {
  std::unique_lock lock(FWakeLock);
  while (!FStop.load() && !FReload.exchange(false)) {
    FWakeSignal.wait_for(lock, kRequestPoll, [this] { return FWoken; });
    FWoken = false;
  }
}

void TStationRun::TImpl::Ended(const TBoardEnd& AEnd) {
  const update::TUpdateOutcome& outcome = AEnd.Outcome;
  if (outcome.Result == update::TUpdateResult::Cancelled) return;
  TTileResult result;
  result.Passed = outcome.Result == update::TUpdateResult::Success;
  if (!result.Passed) result.Cause = OneLine(update::CauseLine(outcome));
  result.BoardId = outcome.BoardId;
  result.Serial = AEnd.Tags.Serial;
  result.Seconds = outcome.Seconds;
  const std::tm now = LocalNow();
  char time[48];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec);
  result.Time = time;
  (result.Passed ? FTotals.Passed : FTotals.Failed) += 1;
  const int ended = FTotals.Passed + FTotals.Failed;
  FTotals.Yield = static_cast<double>(FTotals.Passed) / ended;
  const double hours = std::chrono::duration<double>(std::chrono::steady_clock::now() - FFirstStart).count() / 3600;
  FTotals.BoardsPerHour = hours > 0 ? ended / hours : 0;
  FFront.Ended(AEnd.Port, result, FTotals);
}

TStationRun::TStationRun(TStationSetup ASetup, IStationFront& AFront)
    : FImpl(std::make_unique<TImpl>(std::move(ASetup), AFront)) {}

TStationRun::~TStationRun() = default;

bool TStationRun::Scan(const std::string& ASerial, std::string& AWhy) { return FImpl->Scan(ASerial, AWhy); }
void TStationRun::ReflashFailed() { FImpl->Request(FImpl->FAgain); }
void TStationRun::Reload() { FImpl->Request(FImpl->FReload); }
void TStationRun::Stop() { FImpl->Stop(); }

// The controller: keeps the list of present HID interfaces up to date on
// every device-change notification, reports arrivals and removals and lends
// one device at a time. The list lock is never held while a handler, a
// check callback or a device operation runs.
#include "JvHidControllerClass.h"

#include <algorithm>
#include <set>

namespace {

// The HID device-interface class, shown when the platform has no HID services.
constexpr const char* kFixedHidGuid = "{4D1E55B2-F16F-11CF-88CB-001111000030}";
// lParam of the notification posted at creation: the first pass always counts as a change.
constexpr int32_t kFirstPassLParam = -1;
// How often a create-error handler may ask for one device to be created again.
constexpr int kMaxCreateRetries = 3;

using TDeviceRef = std::shared_ptr<TJvHidDevice>;

// Why a device could not be created, with the system's words when the
// platform gave any.
std::string CreateFailureReason(const EControllerError& AError) {
  const hid::TSystemError LSystem = hid::LastSystemError();
  std::string LReason = AError.what();
  if (LSystem.Code != 0 || !LSystem.Text.empty())
    LReason += ": " + (LSystem.Text.empty() ? std::string("unknown reason") : LSystem.Text) + " (error " +
               std::to_string(LSystem.Code) + ")";
  return LReason;
}

}  // namespace

struct TJvHidDeviceController::TState {
  hid::IHidPlatform* Platform = nullptr;
  void* Owner = nullptr;
  bool Bound = false;
  std::string Guid;

  // Guards the list, the counters and every check-out state change. Never
  // held while a handler, a check callback or a device operation runs.
  mutable std::mutex Lock;
  std::vector<std::shared_ptr<TJvHidDevice>> List;
  int NumCheckedIn = 0;
  int NumCheckedOut = 0;
  int NumUnplugged = 0;

  // Paths of the devices the last pass left out (used by passes only).
  std::set<std::string> Skipped;

  std::atomic<bool> InDeviceChange{false};
  std::atomic<bool> Destroying{false};
  int32_t LParam = 0;

  TNotifyEvent OnDeviceChange;
  TJvHidPlugEvent OnDeviceUnplug;
};

// The steps of one pass, over the controller's private state.
struct TJvPass {
  TJvHidDeviceController& FController;
  TJvHidDeviceController::TState& FState;

  std::set<std::string> Skipped;  // paths this pass left out

  std::vector<TDeviceRef> Discover();
  TDeviceRef CreateDevice(const hid::TDiscoveredInterface& AInterface);
  void Skip(const TJvHidPnPInfo& AInfo, const std::string& AReason);
  bool RemoveGone(const std::vector<TDeviceRef>& AFound);
  void DropIfFree(const TDeviceRef& AEntry);
  void DropKnown(std::vector<TDeviceRef>& AFound);
  bool AddArrivals(std::vector<TDeviceRef>& AFound);
  void Recount();
  void Run();
};

// ---- construction and destruction ----

TJvHidDeviceController::TJvHidDeviceController(void* AOwner, hid::IHidPlatform* APlatform)
    : FState(std::make_unique<TState>()) {
  FState->Owner = AOwner;
  FState->Platform = APlatform ? APlatform : &hid::OsPlatform();
  FState->Bound = FState->Platform->Bind();
  if (!FState->Bound) return;  // inert: no devices, no events
  FState->Guid = FState->Platform->HidGuid();
  FState->Platform->WatchChanges([this](int32_t ALParam) { DeviceChangeNotified(ALParam); });
}

TJvHidDeviceController::~TJvHidDeviceController() {
  FState->Destroying = true;
  FState->OnDeviceChange = nullptr;
  OnEnumerate = nullptr;
  SetOnDeviceUnplug(nullptr);
  if (FState->Bound) FState->Platform->UnwatchChanges();
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    LList.swap(FState->List);
  }
  for (const TDeviceRef& LDevice : LList) {
    LDevice->Detach();
    if (LDevice->IsCheckedOut()) LDevice->DoUnplug();
  }
  LList.clear();
  if (FState->Bound) FState->Platform->Unbind();
}

// ---- notifications and passes ----

void TJvHidDeviceController::DeviceChangeNotified(int32_t ALParam) {
  // A notification during a pass (a handler let events through) is dropped.
  if (FState->Destroying || FState->InDeviceChange.exchange(true)) return;
  struct TClear {
    std::atomic<bool>& F;
    ~TClear() { F = false; }
  } LClear{FState->InDeviceChange};
  FState->LParam = ALParam;
  TJvPass{*this, *FState, {}}.Run();
}

void TJvPass::Run() {
  bool LChanged = FState.LParam == kFirstPassLParam;
  std::vector<TDeviceRef> LFound = Discover();  // an error here leaves the list as it was
  try {
    LChanged = RemoveGone(LFound) || LChanged;
    DropKnown(LFound);
    LChanged = AddArrivals(LFound) || LChanged;
  } catch (...) {
    Recount();  // a handler's error ends the pass, with the counters right
    throw;
  }
  Recount();
  if (LChanged && FState.OnDeviceChange) FState.OnDeviceChange(&FController);
}

std::vector<TDeviceRef> TJvPass::Discover() {
  std::vector<TDeviceRef> LFound;
  std::vector<hid::TDiscoveredInterface> LInterfaces;
  if (!FState.Bound || !FState.Platform->Enumerate(LInterfaces)) return LFound;
  for (const hid::TDiscoveredInterface& LInterface : LInterfaces) {
    TDeviceRef LDevice = CreateDevice(LInterface);
    if (LDevice) LFound.push_back(std::move(LDevice));
  }
  FState.Skipped = Skipped;
  return LFound;
}

TDeviceRef TJvPass::CreateDevice(const hid::TDiscoveredInterface& AInterface) {
  TJvHidPnPInfo LInfo;
  LInfo.FDeviceID = AInterface.DeviceID;
  LInfo.FDevicePath = AInterface.Path;
  LInfo.FPort = AInterface.Port;
  // What the device's own CheckOut runs: the controller's check-out of it.
  auto LCheckOut = [&FController = FController](TJvHidDevice* ADevice) {
    std::lock_guard<std::mutex> LGuard(FController.FState->Lock);
    return FController.HandOutLocked(ADevice, ADevice);
  };
  for (int LAttempt = 0;; ++LAttempt) {
    try {
      return TDeviceRef(new TJvHidDevice(std::make_unique<TJvHidPnPInfo>(LInfo), &FController, FState.Platform,
                                         FState.OnDeviceUnplug, LCheckOut));
    } catch (const EControllerError& LError) {
      const std::string LReason = CreateFailureReason(LError);
      bool LHandled = false;
      bool LRetry = false;
      if (FController.OnDeviceCreateError) {
        FController.OnDeviceCreateError(&FController, LInfo, LHandled, LRetry);
        if (LRetry && LAttempt < kMaxCreateRetries) continue;
      }
      // One device in a bad state (a broken headset, one being removed)
      // must not hide the others: it is left out of this pass.
      if (!LHandled) Skip(LInfo, LReason);
      return nullptr;
    }
  }
}

void TJvPass::Skip(const TJvHidPnPInfo& AInfo, const std::string& AReason) {
  Skipped.insert(AInfo.FDevicePath);
  // Every hardware change runs a pass: a device that stays broken is
  // reported when it is first met, not at every pass.
  if (FState.Skipped.count(AInfo.FDevicePath) == 0 && FController.OnDeviceSkipped)
    FController.OnDeviceSkipped(&FController, AInfo, AReason);
}

bool TJvPass::RemoveGone(const std::vector<TDeviceRef>& AFound) {
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(FState.Lock);
    LList = FState.List;
  }
  bool LChanged = false;
  for (auto LIt = LList.rbegin(); LIt != LList.rend(); ++LIt) {
    const TDeviceRef& LEntry = *LIt;
    const uint32_t LId = LEntry->PnPInfo().FDeviceID;
    const bool LPresent =
        LEntry->IsPluggedIn() && std::any_of(AFound.begin(), AFound.end(), [LId](const TDeviceRef& F) {
          return F->PnPInfo().FDeviceID == LId;
        });
    if (LPresent) continue;
    LEntry->DoUnplug();
    try {
      if (FController.OnRemoval) {
        const auto LShow = LEntry->Show();
        FController.OnRemoval(LEntry.get());
      }
    } catch (...) {
      DropIfFree(LEntry);  // no unplugged entry stays behind unheld
      throw;
    }
    DropIfFree(LEntry);
    LChanged = true;
  }
  return LChanged;
}

void TJvPass::DropIfFree(const TDeviceRef& AEntry) {
  TDeviceRef LDestroyed;  // released after the lock
  std::lock_guard<std::mutex> LGuard(FState.Lock);
  auto LPos = std::find(FState.List.begin(), FState.List.end(), AEntry);
  if (LPos == FState.List.end() || AEntry->IsCheckedOut()) return;
  LDestroyed = std::move(*LPos);
  FState.List.erase(LPos);
  LDestroyed->Detach();
}

void TJvPass::DropKnown(std::vector<TDeviceRef>& AFound) {
  std::lock_guard<std::mutex> LGuard(FState.Lock);
  for (TDeviceRef& LNew : AFound) {
    const uint32_t LId = LNew->PnPInfo().FDeviceID;
    const bool LKnown = std::any_of(FState.List.begin(), FState.List.end(), [LId](const TDeviceRef& E) {
      return E->PnPInfo().FDeviceID == LId && E->IsPluggedIn();
    });
    if (!LKnown) continue;
    LNew->Detach();
    LNew.reset();
  }
}

bool TJvPass::AddArrivals(std::vector<TDeviceRef>& AFound) {
  bool LChanged = false;
  for (TDeviceRef& LNew : AFound) {
    if (!LNew) continue;
    {
      std::lock_guard<std::mutex> LGuard(FState.Lock);
      FState.List.push_back(LNew);
      ++FState.NumCheckedIn;  // can be checked out while its handler runs
    }
    LChanged = true;
    if (FController.OnArrival) {
      const auto LShow = LNew->Show();
      FController.OnArrival(LNew.get());
    }
  }
  return LChanged;
}

void TJvPass::Recount() {
  std::lock_guard<std::mutex> LGuard(FState.Lock);
  int LOut = 0;
  int LUnplugged = 0;
  for (const TDeviceRef& LEntry : FState.List) {
    if (LEntry->IsCheckedOut()) ++LOut;
    if (!LEntry->IsPluggedIn()) ++LUnplugged;
  }
  FState.NumCheckedIn = static_cast<int>(FState.List.size()) - LOut;
  FState.NumUnplugged = LUnplugged;
  FState.NumCheckedOut = LOut - LUnplugged;
}

// ---- walking the list ----

int TJvHidDeviceController::Enumerate() {
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    LList = FState->List;
  }
  int LCount = 0;
  for (size_t LIdx = 0; LIdx < LList.size(); ++LIdx) {
    TJvHidDevice* LEntry = LList[LIdx].get();
    if (!LEntry->IsPluggedIn()) continue;
    ++LCount;
    if (!OnEnumerate) break;
    bool LGoOn;
    {
      const auto LShow = LEntry->Show();
      LGoOn = OnEnumerate(LEntry, static_cast<int>(LIdx));
    }
    if (!LEntry->IsCheckedOut()) CloseAllHandles(LEntry);
    if (!LGoOn) break;
  }
  return LCount;
}

void TJvHidDeviceController::CloseAllHandles(TJvHidDevice* ADevice) {
  ADevice->CloseFile();
  ADevice->CloseFileEx(omhRead);
  ADevice->CloseFileEx(omhWrite);
}

// ---- check-out and check-in ----

bool TJvHidDeviceController::HandOutLocked(TJvHidDevice* AEntry, TJvHidDevice*& HidDev) {
  // Unplugged entries are skipped: between a pass's unplug and its removal
  // an entry is neither plugged in nor checked out.
  if (!AEntry->IsPluggedIn() || !AEntry->MarkCheckedOut(true)) return false;
  ++FState->NumCheckedOut;
  --FState->NumCheckedIn;
  HidDev = AEntry;
  return true;
}

bool TJvHidDeviceController::CheckOutByCallback(TJvHidDevice*& HidDev, TJvHidCheckCallback Check) {
  return CheckOutWhere(HidDev, [Check](TJvHidDevice* ADevice) { return Check && Check(ADevice); });
}

bool TJvHidDeviceController::CheckOutWhere(TJvHidDevice*& HidDev, const std::function<bool(TJvHidDevice*)>& Check) {
  HidDev = nullptr;
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    LList = FState->List;
  }
  for (const TDeviceRef& LEntry : LList) {
    if (LEntry->IsCheckedOut() || !LEntry->IsPluggedIn()) continue;
    bool LHanded = false;
    {
      const auto LShow = LEntry->Show();
      if (Check && Check(LEntry.get())) {
        std::lock_guard<std::mutex> LGuard(FState->Lock);
        const bool LListed = std::find(FState->List.begin(), FState->List.end(), LEntry) != FState->List.end();
        LHanded = LListed && HandOutLocked(LEntry.get(), HidDev);
      }
    }
    if (LHanded) return true;
    if (!LEntry->IsCheckedOut()) CloseAllHandles(LEntry.get());
  }
  return false;
}

bool TJvHidDeviceController::CheckOut(TJvHidDevice*& HidDev) {
  HidDev = nullptr;
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  for (const TDeviceRef& LEntry : FState->List)
    if (HandOutLocked(LEntry.get(), HidDev)) return true;
  return false;
}

bool TJvHidDeviceController::CheckOutByID(TJvHidDevice*& HidDev, int Vid, int Pid) {
  HidDev = nullptr;
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  for (const TDeviceRef& LEntry : FState->List) {
    const hid::THidAttributes& LAttr = LEntry->Attributes();
    if (LAttr.VendorID != Vid || (Pid != -1 && LAttr.ProductID != Pid)) continue;
    if (HandOutLocked(LEntry.get(), HidDev)) return true;
  }
  return false;
}

bool TJvHidDeviceController::CheckOutByIndex(TJvHidDevice*& HidDev, int Idx) {
  HidDev = nullptr;
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  if (Idx < 0 || Idx >= static_cast<int>(FState->List.size())) return false;
  return HandOutLocked(FState->List[static_cast<size_t>(Idx)].get(), HidDev);
}

void TJvHidDeviceController::CheckIn(TJvHidDevice*& HidDev) {
  if (!HidDev) return;
  CloseAllHandles(HidDev);
  TDeviceRef LDestroyed;  // released after the lock
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    auto LPos = std::find_if(FState->List.begin(), FState->List.end(),
                             [HidDev](const TDeviceRef& E) { return E.get() == HidDev; });
    if (LPos != FState->List.end()) {
      if (HidDev->IsPluggedIn()) {
        if (HidDev->MarkCheckedOut(false)) {
          --FState->NumCheckedOut;
          ++FState->NumCheckedIn;
        }
      } else {
        LDestroyed = std::move(*LPos);
        FState->List.erase(LPos);
        LDestroyed->Detach();
        --FState->NumUnplugged;
      }
    }
  }
  HidDev = nullptr;
}

void TJvHidDeviceController::RequestPass() {
  if (FState->Bound && !FState->Destroying) FState->Platform->RequestChange();
}

// ---- handlers and counters ----

const TNotifyEvent& TJvHidDeviceController::OnDeviceChange() const { return FState->OnDeviceChange; }

void TJvHidDeviceController::SetOnDeviceChange(TNotifyEvent AHandler) {
  const bool LRunPass = AHandler || FState->OnDeviceChange;
  FState->OnDeviceChange = std::move(AHandler);
  // Handlers cannot be compared, so every real assignment counts as a new one.
  if (!LRunPass || !FState->Bound || FState->Destroying || FState->InDeviceChange.exchange(true)) return;
  struct TClear {
    std::atomic<bool>& F;
    ~TClear() { F = false; }
  } LClear{FState->InDeviceChange};
  TJvPass{*this, *FState, {}}.Run();
}

const TJvHidPlugEvent& TJvHidDeviceController::OnDeviceUnplug() const { return FState->OnDeviceUnplug; }

void TJvHidDeviceController::SetOnDeviceUnplug(TJvHidPlugEvent AHandler) {
  FState->OnDeviceUnplug = AHandler;
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    LList = FState->List;
  }
  for (const TDeviceRef& LEntry : LList) LEntry->SetOnUnplug(AHandler);
}

int TJvHidDeviceController::NumCheckedInDevices() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->NumCheckedIn;
}

int TJvHidDeviceController::NumCheckedOutDevices() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->NumCheckedOut;
}

int TJvHidDeviceController::NumUnpluggedDevices() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->NumUnplugged;
}

std::string TJvHidDeviceController::HidGuid() const {
  return FState->Guid.empty() ? kFixedHidGuid : FState->Guid;
}

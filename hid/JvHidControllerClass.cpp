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

struct TJvHidDeviceController::TImpl {
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
  TJvHidDeviceController& C;
  TJvHidDeviceController::TImpl& d;

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
    : d(std::make_unique<TImpl>()) {
  d->Owner = AOwner;
  d->Platform = APlatform ? APlatform : &hid::OsPlatform();
  d->Bound = d->Platform->Bind();
  if (!d->Bound) return;  // inert: no devices, no events
  d->Guid = d->Platform->HidGuid();
  d->Platform->WatchChanges([this](int32_t ALParam) { DeviceChangeNotified(ALParam); });
}

TJvHidDeviceController::~TJvHidDeviceController() {
  d->Destroying = true;
  d->OnDeviceChange = nullptr;
  OnEnumerate = nullptr;
  SetOnDeviceUnplug(nullptr);
  if (d->Bound) d->Platform->UnwatchChanges();
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(d->Lock);
    LList.swap(d->List);
  }
  for (const TDeviceRef& LDevice : LList) {
    LDevice->Detach();
    if (LDevice->IsCheckedOut()) LDevice->DoUnplug();
  }
  LList.clear();
  if (d->Bound) d->Platform->Unbind();
}

// ---- notifications and passes ----

void TJvHidDeviceController::DeviceChangeNotified(int32_t ALParam) {
  // A notification during a pass (a handler let events through) is dropped.
  if (d->Destroying || d->InDeviceChange.exchange(true)) return;
  struct TClear {
    std::atomic<bool>& F;
    ~TClear() { F = false; }
  } LClear{d->InDeviceChange};
  d->LParam = ALParam;
  TJvPass{*this, *d, {}}.Run();
}

void TJvPass::Run() {
  bool LChanged = d.LParam == kFirstPassLParam;
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
  if (LChanged && d.OnDeviceChange) d.OnDeviceChange(&C);
}

std::vector<TDeviceRef> TJvPass::Discover() {
  std::vector<TDeviceRef> LFound;
  std::vector<hid::TDiscoveredInterface> LInterfaces;
  if (!d.Bound || !d.Platform->Enumerate(LInterfaces)) return LFound;
  for (const hid::TDiscoveredInterface& LInterface : LInterfaces) {
    TDeviceRef LDevice = CreateDevice(LInterface);
    if (LDevice) LFound.push_back(std::move(LDevice));
  }
  d.Skipped = Skipped;
  return LFound;
}

TDeviceRef TJvPass::CreateDevice(const hid::TDiscoveredInterface& AInterface) {
  TJvHidPnPInfo LInfo;
  LInfo.FDeviceID = AInterface.DeviceID;
  LInfo.FDevicePath = AInterface.Path;
  LInfo.FPort = AInterface.Port;
  // What the device's own CheckOut runs: the controller's check-out of it.
  auto LCheckOut = [&C = C](TJvHidDevice* ADevice) {
    std::lock_guard<std::mutex> LGuard(C.d->Lock);
    return C.HandOutLocked(ADevice, ADevice);
  };
  for (int LAttempt = 0;; ++LAttempt) {
    try {
      return TDeviceRef(new TJvHidDevice(std::make_unique<TJvHidPnPInfo>(LInfo), &C, d.Platform,
                                         d.OnDeviceUnplug, LCheckOut));
    } catch (const EControllerError& LError) {
      const std::string LReason = CreateFailureReason(LError);
      bool LHandled = false;
      bool LRetry = false;
      if (C.OnDeviceCreateError) {
        C.OnDeviceCreateError(&C, LInfo, LHandled, LRetry);
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
  if (d.Skipped.count(AInfo.FDevicePath) == 0 && C.OnDeviceSkipped) C.OnDeviceSkipped(&C, AInfo, AReason);
}

bool TJvPass::RemoveGone(const std::vector<TDeviceRef>& AFound) {
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(d.Lock);
    LList = d.List;
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
      if (C.OnRemoval) {
        const auto LShow = LEntry->Show();
        C.OnRemoval(LEntry.get());
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
  std::lock_guard<std::mutex> LGuard(d.Lock);
  auto LPos = std::find(d.List.begin(), d.List.end(), AEntry);
  if (LPos == d.List.end() || AEntry->IsCheckedOut()) return;
  LDestroyed = std::move(*LPos);
  d.List.erase(LPos);
  LDestroyed->Detach();
}

void TJvPass::DropKnown(std::vector<TDeviceRef>& AFound) {
  std::lock_guard<std::mutex> LGuard(d.Lock);
  for (TDeviceRef& LNew : AFound) {
    const uint32_t LId = LNew->PnPInfo().FDeviceID;
    const bool LKnown = std::any_of(d.List.begin(), d.List.end(), [LId](const TDeviceRef& E) {
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
      std::lock_guard<std::mutex> LGuard(d.Lock);
      d.List.push_back(LNew);
      ++d.NumCheckedIn;  // can be checked out while its handler runs
    }
    LChanged = true;
    if (C.OnArrival) {
      const auto LShow = LNew->Show();
      C.OnArrival(LNew.get());
    }
  }
  return LChanged;
}

void TJvPass::Recount() {
  std::lock_guard<std::mutex> LGuard(d.Lock);
  int LOut = 0;
  int LUnplugged = 0;
  for (const TDeviceRef& LEntry : d.List) {
    if (LEntry->IsCheckedOut()) ++LOut;
    if (!LEntry->IsPluggedIn()) ++LUnplugged;
  }
  d.NumCheckedIn = static_cast<int>(d.List.size()) - LOut;
  d.NumUnplugged = LUnplugged;
  d.NumCheckedOut = LOut - LUnplugged;
}

// ---- walking the list ----

int TJvHidDeviceController::Enumerate() {
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(d->Lock);
    LList = d->List;
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
  ++d->NumCheckedOut;
  --d->NumCheckedIn;
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
    std::lock_guard<std::mutex> LGuard(d->Lock);
    LList = d->List;
  }
  for (const TDeviceRef& LEntry : LList) {
    if (LEntry->IsCheckedOut() || !LEntry->IsPluggedIn()) continue;
    bool LHanded = false;
    {
      const auto LShow = LEntry->Show();
      if (Check && Check(LEntry.get())) {
        std::lock_guard<std::mutex> LGuard(d->Lock);
        const bool LListed = std::find(d->List.begin(), d->List.end(), LEntry) != d->List.end();
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
  std::lock_guard<std::mutex> LGuard(d->Lock);
  for (const TDeviceRef& LEntry : d->List)
    if (HandOutLocked(LEntry.get(), HidDev)) return true;
  return false;
}

bool TJvHidDeviceController::CheckOutByID(TJvHidDevice*& HidDev, int Vid, int Pid) {
  HidDev = nullptr;
  std::lock_guard<std::mutex> LGuard(d->Lock);
  for (const TDeviceRef& LEntry : d->List) {
    const hid::THidAttributes& LAttr = LEntry->Attributes();
    if (LAttr.VendorID != Vid || (Pid != -1 && LAttr.ProductID != Pid)) continue;
    if (HandOutLocked(LEntry.get(), HidDev)) return true;
  }
  return false;
}

bool TJvHidDeviceController::CheckOutByIndex(TJvHidDevice*& HidDev, int Idx) {
  HidDev = nullptr;
  std::lock_guard<std::mutex> LGuard(d->Lock);
  if (Idx < 0 || Idx >= static_cast<int>(d->List.size())) return false;
  return HandOutLocked(d->List[static_cast<size_t>(Idx)].get(), HidDev);
}

void TJvHidDeviceController::CheckIn(TJvHidDevice*& HidDev) {
  if (!HidDev) return;
  CloseAllHandles(HidDev);
  TDeviceRef LDestroyed;  // released after the lock
  {
    std::lock_guard<std::mutex> LGuard(d->Lock);
    auto LPos = std::find_if(d->List.begin(), d->List.end(),
                             [HidDev](const TDeviceRef& E) { return E.get() == HidDev; });
    if (LPos != d->List.end()) {
      if (HidDev->IsPluggedIn()) {
        if (HidDev->MarkCheckedOut(false)) {
          --d->NumCheckedOut;
          ++d->NumCheckedIn;
        }
      } else {
        LDestroyed = std::move(*LPos);
        d->List.erase(LPos);
        LDestroyed->Detach();
        --d->NumUnplugged;
      }
    }
  }
  HidDev = nullptr;
}

// ---- handlers and counters ----

const TNotifyEvent& TJvHidDeviceController::OnDeviceChange() const { return d->OnDeviceChange; }

void TJvHidDeviceController::SetOnDeviceChange(TNotifyEvent AHandler) {
  const bool LRunPass = AHandler || d->OnDeviceChange;
  d->OnDeviceChange = std::move(AHandler);
  // Handlers cannot be compared, so every real assignment counts as a new one.
  if (!LRunPass || !d->Bound || d->Destroying || d->InDeviceChange.exchange(true)) return;
  struct TClear {
    std::atomic<bool>& F;
    ~TClear() { F = false; }
  } LClear{d->InDeviceChange};
  TJvPass{*this, *d, {}}.Run();
}

const TJvHidPlugEvent& TJvHidDeviceController::OnDeviceUnplug() const { return d->OnDeviceUnplug; }

void TJvHidDeviceController::SetOnDeviceUnplug(TJvHidPlugEvent AHandler) {
  d->OnDeviceUnplug = AHandler;
  std::vector<TDeviceRef> LList;
  {
    std::lock_guard<std::mutex> LGuard(d->Lock);
    LList = d->List;
  }
  for (const TDeviceRef& LEntry : LList) LEntry->SetOnUnplug(AHandler);
}

int TJvHidDeviceController::NumCheckedInDevices() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->NumCheckedIn;
}

int TJvHidDeviceController::NumCheckedOutDevices() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->NumCheckedOut;
}

int TJvHidDeviceController::NumUnpluggedDevices() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->NumUnplugged;
}

std::string TJvHidDeviceController::HidGuid() const {
  return d->Guid.empty() ? kFixedHidGuid : d->Guid;
}

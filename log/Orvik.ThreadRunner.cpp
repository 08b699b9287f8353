#include "Orvik.ThreadRunner.h"

#include "Orvik.XmlUtils.h"
#include "ThreadStack.h"

#include <cstdio>
#include <ctime>
#include <stdexcept>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

// ---------------------------------------------------------------------------
// Platform services: thread identity, thread naming, the debugger channel,
// local time and the component-object runtime.
namespace {

#ifdef _WIN32
using TSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);

std::wstring Widen(const std::string& AUtf8) {
  if (AUtf8.empty()) return {};
  const int size = static_cast<int>(AUtf8.size());
  const int count = MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), size, wide.data(), count);
  return wide;
}

// SetThreadDescription exists from Windows 10 1607 on; older systems go without.
TSetThreadDescription FindSetThreadDescription() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return nullptr;
  const FARPROC proc = GetProcAddress(kernel, "SetThreadDescription");
  return reinterpret_cast<TSetThreadDescription>(reinterpret_cast<void (*)()>(proc));
}

void NameOsThread(std::thread& /*AThread*/, std::uint32_t AId, const std::string& AName) {
  static const TSetThreadDescription setDescription = FindSetThreadDescription();
  if (!setDescription || AId == 0) return;
  const HANDLE thread = OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE, AId);
  if (!thread) return;
  setDescription(thread, Widen(AName).c_str());
  CloseHandle(thread);
}

void WriteDebugChannel(const std::string& AMessage) {
  OutputDebugStringW(Widen(AMessage).c_str());
}

std::tm LocalTm(std::time_t ATime) {
  std::tm parts{};
  localtime_s(&parts, &ATime);
  return parts;
}

void InitComForThread() {
  (void)CoInitializeEx(nullptr, 0);  // 0 = COINIT_MULTITHREADED; never left again
}
#else
// Linux keeps at most 15 bytes of a thread name (16 with the terminator).
constexpr size_t kOsThreadNameMax = 15;

// Cuts a UTF-8 name to the limit without splitting a character.
std::string TruncateUtf8(const std::string& AName, size_t AMax) {
  if (AName.size() <= AMax) return AName;
  size_t end = AMax;
  while (end > 0 && (static_cast<unsigned char>(AName[end]) & 0xC0) == 0x80) --end;
  return AName.substr(0, end);
}

void NameOsThread(std::thread& AThread, std::uint32_t /*AId*/, const std::string& AName) {
  if (!AThread.joinable()) return;
  pthread_setname_np(AThread.native_handle(),
                     TruncateUtf8(AName, kOsThreadNameMax).c_str());
}

void WriteDebugChannel(const std::string& AMessage) {
  // stderr has no message boundaries, so each message becomes one line.
  const std::string line = AMessage + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::tm LocalTm(std::time_t ATime) {
  std::tm parts{};
  localtime_r(&ATime, &parts);
  return parts;
}

void InitComForThread() {}
#endif

// "hh:nn:ss.zzz", optionally preceded by "yyyy-mm-dd ".
std::string FormatLocalTime(TThreadRunner::TClock::time_point ATime, bool AWithDate) {
  using namespace std::chrono;
  const auto sinceEpoch = ATime.time_since_epoch();
  const long long millis = duration_cast<milliseconds>(sinceEpoch).count() % 1000;
  const std::tm t = LocalTm(TThreadRunner::TClock::to_time_t(
      TThreadRunner::TClock::time_point(duration_cast<seconds>(sinceEpoch))));
  char text[96];  // room for any int the compiler can imagine in each field
  if (AWithDate) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03lld",
                  t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                  t.tm_sec, millis);
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03lld", t.tm_hour, t.tm_min,
                  t.tm_sec, millis);
  }
  return text;
}

}  // namespace

#ifdef _WIN32
std::uint32_t CurrentThreadIdentifier() { return GetCurrentThreadId(); }
#else
std::uint32_t CurrentThreadIdentifier() { return static_cast<std::uint32_t>(gettid()); }
#endif

// ---------------------------------------------------------------------------
// Debug trace.
namespace {
// One lock keeps every message whole and lets tests swap the sink safely.
std::mutex& DebugLock() {
  static auto* lock = new std::mutex;  // never destroyed: detached threads may trace at exit
  return *lock;
}
TDebugSink& DebugSink() {
  static auto* sink = new TDebugSink;
  return *sink;
}
}  // namespace

void SetDebugSink(TDebugSink ASink) {
  std::lock_guard<std::mutex> guard(DebugLock());
  DebugSink() = std::move(ASink);
}

void dLog(const std::string& s) {
  const std::string message = FormatLocalTime(TThreadRunner::TClock::now(), false) + " " + s;
  std::lock_guard<std::mutex> guard(DebugLock());
  if (DebugSink()) {
    DebugSink()(message);
  } else {
    WriteDebugChannel(message);
  }
}

std::string ThreadIdHex(std::uint32_t AId) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(AId));
  return text;
}

// ---------------------------------------------------------------------------
// Registry of runners.
namespace {
std::recursive_mutex& csTrList() {
  static auto* lock = new std::recursive_mutex;  // outlives runners that free themselves
  return *lock;
}
std::vector<TThreadRunner*>* fTRList = nullptr;  // guarded by csTrList

void RegisterRunner(TThreadRunner* ARunner) {
  std::lock_guard<std::recursive_mutex> guard(csTrList());
  if (fTRList) fTRList->push_back(ARunner);
}

void UnregisterRunner(TThreadRunner* ARunner) {
  std::lock_guard<std::recursive_mutex> guard(csTrList());
  if (!fTRList) return;
  for (auto it = fTRList->begin(); it != fTRList->end(); ++it) {
    if (*it == ARunner) {
      fTRList->erase(it);
      return;
    }
  }
}

thread_local TThreadRunner* tCurrentRunner = nullptr;
}  // namespace

void ThreadRunnerModuleInit() {
  std::lock_guard<std::recursive_mutex> guard(csTrList());
  if (!fTRList) fTRList = new std::vector<TThreadRunner*>;
}

void ThreadRunnerModuleShutdown() {
  dLog("finalization Halvex.ThreadRunner start");
  {
    std::lock_guard<std::recursive_mutex> guard(csTrList());
    if (fTRList && !fTRList->empty()) {
      throw std::runtime_error("Existují neukončené thready!");
    }
    delete fTRList;
    fTRList = nullptr;
  }
  dLog("finalization Halvex.ThreadRunner ok");
}

int ThreadRunnerCount() {
  std::lock_guard<std::recursive_mutex> guard(csTrList());
  return fTRList ? static_cast<int>(fTRList->size()) : 0;
}

std::vector<TThreadRunner*> ThreadRunnerList() {
  std::lock_guard<std::recursive_mutex> guard(csTrList());
  return fTRList ? *fTRList : std::vector<TThreadRunner*>{};
}

TThreadRunner* CurrentThreadRunner() { return tCurrentRunner; }

// ---------------------------------------------------------------------------
// TManualResetEvent.
void TManualResetEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FSignalled = true;
  }
  FChanged.notify_all();
}

void TManualResetEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(FLock);
  FSignalled = false;
}

bool TManualResetEvent::IsSet() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FSignalled;
}

void TManualResetEvent::Wait() const {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return FSignalled; });
}

bool TManualResetEvent::WaitFor(std::chrono::milliseconds ATimeout) const {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, ATimeout, [this] { return FSignalled; });
}

// ---------------------------------------------------------------------------
// TThreadRunner.
TThreadRunner::TThreadRunner(TThreadProc Proc, const std::string& AThreadName) {
  // Written before the thread and its name exist: always 00000000 and no name.
  dLog("TThreadRunner.Create " + TracePrefix() + " - BEGIN");
  fProc = std::move(Proc);
  FThread = std::thread([this] { ThreadMain(); });
  FIdKnown.Wait();
  SetThreadName(AThreadName);
  FreeOnTerminate = false;
  RegisterRunner(this);
  feventReady.SetEvent();
  dLog("TThreadRunner.AfterConstruction ");
}

TThreadRunner::~TThreadRunner() {
  UnregisterRunner(this);
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) {
    FThread.detach();  // destroyed by its own thread: nothing to wait for
    return;
  }
  if (!FFinished) Terminate();
  FStartGate.SetEvent();  // a runner never started wakes, sees Terminated, skips its body
  FThread.join();
}

void TThreadRunner::Start() { FStartGate.SetEvent(); }
void TThreadRunner::Terminate() { FTerminated = true; }
bool TThreadRunner::Terminated() const { return FTerminated; }
bool TThreadRunner::Finished() const { return FFinished; }

void TThreadRunner::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TThreadRunner::Tick() {
  fLastTick = TClock::now();
  ++fTick;
}

std::string TThreadRunner::GetXML() const {
  return "<thread lasttick=\"" + FormatLocalTime(fLastTick, true) + "\"" +
         " ticks=\"" + std::to_string(fTick.load()) + "\"" +
         " threadname=\"" + EncodeXmlData(ThreadName()) + "\"" + "/>";
}

std::string TThreadRunner::ThreadName() const {
  std::lock_guard<std::mutex> guard(FNameLock);
  return FThreadName;
}

void TThreadRunner::SetThreadName(const std::string& Value) {
  {
    std::lock_guard<std::mutex> guard(FNameLock);
    FThreadName = Value;
  }
  NameOsThread(FThread, FThreadID, Value);
}

TManualResetEvent& TThreadRunner::eventReady() { return feventReady; }
std::uint32_t TThreadRunner::ThreadID() const { return FThreadID; }

std::exception_ptr TThreadRunner::FatalException() const {
  return FFinished ? FFatalException : nullptr;
}

std::string TThreadRunner::TracePrefix() const {
  return "(0x" + ThreadIdHex(FThreadID) + "," + ThreadName() + ")";
}

void TThreadRunner::ThreadMain() {
  KeepStackForCrashReport();
  FThreadID = CurrentThreadIdentifier();
  FIdKnown.SetEvent();
  FStartGate.Wait();
  tCurrentRunner = this;
  if (!FTerminated) {
    try {
      Execute();
    } catch (...) {
      FFatalException = std::current_exception();
    }
  }
  tCurrentRunner = nullptr;
  const bool freeSelf = FreeOnTerminate;
  FFinished = true;
  if (freeSelf) delete this;  // the destructor detaches the thread
}

void TThreadRunner::Execute() {
  bool ok = false;
  fTick = 0;
  fLastTick = TClock::now();
  dLog("TThreadRunner.Execute " + TracePrefix() + " - BEGIN");
  InitComForThread();
  FreeOnTerminate = false;
  try {
    RunProc();
    ok = true;
  } catch (const std::exception& e) {
    dLog("TThreadRunner.Execute " + TracePrefix() + " - EXCEPTION: " + e.what());
  } catch (...) {
    dLog("TThreadRunner.Execute " + TracePrefix() + " - END (0)");
    throw;
  }
  dLog("TThreadRunner.Execute " + TracePrefix() + " - END (" + (ok ? "1" : "0") + ")");
}

void TThreadRunner::RunProc() {
  if (!fProc) throw std::runtime_error("Not assigned Proc method");
  fProc(this);
}

// Named worker threads. Each TThreadRunner runs one procedure on a thread of
// its own, traces the life of that thread on the debugger output channel,
// keeps a heartbeat it can report as a small XML fragment, and is entered in
// a registry shared by the whole process. Plain C++: builds for Linux and,
// with mingw-w64, for Windows.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TThreadRunner;

// The procedure a runner runs; Tr is the runner that runs it.
using TThreadProc = std::function<void(TThreadRunner* Tr)>;

// An event that stays signalled until it is reset (manual reset).
class TManualResetEvent {
 public:
  void SetEvent();
  void ResetEvent();
  bool IsSet() const;
  void Wait() const;
  // True when the event was signalled within ATimeout.
  bool WaitFor(std::chrono::milliseconds ATimeout) const;

 private:
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  bool FSignalled = false;
};

class TThreadRunner {
 public:
  using TClock = std::chrono::system_clock;

  // The thread exists but waits until Start(); the runner is registered and
  // eventReady is signalled when the constructor returns.
  TThreadRunner(TThreadProc Proc, const std::string& AThreadName);
  // Leaves the registry; a thread that still runs is asked to terminate and
  // waited for. A runner that was never started ends without running its body.
  ~TThreadRunner();
  TThreadRunner(const TThreadRunner&) = delete;
  TThreadRunner& operator=(const TThreadRunner&) = delete;

  void Start();
  void Terminate();
  bool Terminated() const;
  // True once the thread body has ended (after its END line).
  bool Finished() const;
  // Blocks until the thread has ended. Not for runners that free themselves.
  void WaitFor();

  // The procedure sets this to make the runner delete itself on its own
  // thread right after the body ends; the owner must then never touch it.
  std::atomic<bool> FreeOnTerminate{false};

  // Heartbeat: moves the last-tick time to now and counts one tick.
  void Tick();
  // <thread lasttick="yyyy-mm-dd hh:nn:ss.zzz" ticks="N" threadname="..."/>
  std::string GetXML() const;

  std::string ThreadName() const;
  // Stores the name and gives it to the operating-system thread for debuggers.
  void SetThreadName(const std::string& Value);
  TManualResetEvent& eventReady();
  // Operating-system identifier of the runner's thread.
  std::uint32_t ThreadID() const;
  // A thrown object not derived from std::exception ends the body and is
  // kept here instead of ending the process.
  std::exception_ptr FatalException() const;

 private:
  void ThreadMain();
  void Execute();
  void RunProc();
  std::string TracePrefix() const;

  mutable std::mutex FNameLock;
  std::string FThreadName;
  std::atomic<std::int32_t> fTick{0};
  std::atomic<TClock::time_point> fLastTick{TClock::time_point{}};
  TThreadProc fProc;
  TManualResetEvent feventReady;

  std::atomic<std::uint32_t> FThreadID{0};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  TManualResetEvent FIdKnown;    // the new thread has published its identifier
  TManualResetEvent FStartGate;  // opened by Start() or by destruction
  std::exception_ptr FFatalException;
  std::thread FThread;  // last: everything above exists before the thread does
};

// Module start: creates the registry. Call once at start-up before any
// runner is made; calling it again keeps the registry that exists.
void ThreadRunnerModuleInit();
// Module shutdown: throws std::runtime_error("Existují neukončené thready!")
// while runners are still registered; the registry then stays.
void ThreadRunnerModuleShutdown();
// Number of registered runners (0 when there is no registry).
int ThreadRunnerCount();
// The registered runners in order of registration.
std::vector<TThreadRunner*> ThreadRunnerList();

// The runner whose body runs on the calling thread, or nullptr.
TThreadRunner* CurrentThreadRunner();
// Operating-system identifier of the calling thread.
std::uint32_t CurrentThreadIdentifier();
// A thread identifier as eight upper-case hexadecimal digits.
std::string ThreadIdHex(std::uint32_t AId);

// Writes local time "hh:nn:ss.zzz " followed by s as one message to the
// debugger output channel (OutputDebugStringW on Windows, stderr elsewhere),
// or to the sink when one is set. Callable from any thread.
void dLog(const std::string& s);
// Tests capture the trace here; an empty sink restores the debugger channel.
using TDebugSink = std::function<void(const std::string& AMessage)>;
void SetDebugSink(TDebugSink ASink);

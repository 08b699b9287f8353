// libhidraw_faults (HidrawFaults.h): system calls on hidraw nodes that fail
// on purpose. Loaded with LD_PRELOAD before umockdev's library, so that its
// calls go on to umockdev's (which redirects /dev into the test bed) and from
// there to the C library.
#include "HidrawFaults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr int kMaxFds = 4096;
constexpr int kMaxNodes = 64;
constexpr char kNodePrefix[] = "/dev/hidraw";

// The node number + 1 of each descriptor opened by a node's path; 0 otherwise.
std::atomic<int> GNodeOf[kMaxFds];

struct TFaultState {
  std::mutex Lock;
  std::vector<THidrawFault> Faults;
  std::vector<int> NodeOfFault;  // -1: every node
  std::vector<int> Counts;
  int Calls[kHidrawCallKinds] = {};
  int Hits = 0;
  bool Gone[kMaxNodes] = {};
};

TFaultState& State() {
  static TFaultState* LState = new TFaultState;  // outlives every static destructor
  return *LState;
}

template <typename TFn>
TFn Next(const char* AName) {
  return reinterpret_cast<TFn>(dlsym(RTLD_NEXT, AName));
}

int NodeOfPath(const char* APath) {
  if (!APath || std::strncmp(APath, kNodePrefix, sizeof kNodePrefix - 1) != 0) return -1;
  const char* LDigits = APath + sizeof kNodePrefix - 1;
  char* LEnd = nullptr;
  const long LNumber = std::strtol(LDigits, &LEnd, 10);
  if (LEnd == LDigits || *LEnd != '\0' || LNumber < 0 || LNumber >= kMaxNodes) return -1;
  return static_cast<int>(LNumber);
}

int NodeOfFd(int AFd) {
  return AFd >= 0 && AFd < kMaxFds ? GNodeOf[AFd].load(std::memory_order_relaxed) - 1 : -1;
}

// Counts a call of AKind on ANode against every fault of that kind that
// makes the node vanish, or every other one, as AVanish says (polls: only
// the faults whose events they wait for); the fault that this call falls
// into, or null.
const THidrawFault* CountLocked(TFaultState& AState, int AKind, int ANode, bool AVanish, short AEvents = 0) {
  const THidrawFault* LHit = nullptr;
  for (size_t LIdx = 0; LIdx < AState.Faults.size(); ++LIdx) {
    const THidrawFault& LFault = AState.Faults[LIdx];
    if (LFault.Call != AKind || (LFault.Vanish != 0) != AVanish) continue;
    if (LFault.Events != 0 && (LFault.Events & AEvents) == 0) continue;
    if (AState.NodeOfFault[LIdx] >= 0 && AState.NodeOfFault[LIdx] != ANode) continue;
    const int LCall = ++AState.Counts[LIdx];
    if (LCall < LFault.First) continue;
    int LInto = LCall - LFault.First;
    if (LFault.Every > 0) LInto %= LFault.Every;
    if ((LFault.Times < 0 || LInto < LFault.Times) && !LHit) LHit = &LFault;
  }
  if (LHit) ++AState.Hits;
  return LHit;
}

// A call on ANode: the fault it falls into, copied, or Error 0. AGone:
// the node is gone, or goes now.
THidrawFault Decide(int AKind, int ANode, bool& AGone) {
  TFaultState& LState = State();
  std::lock_guard<std::mutex> LGuard(LState.Lock);
  ++LState.Calls[AKind];
  if (!LState.Gone[ANode] && CountLocked(LState, AKind, ANode, true)) LState.Gone[ANode] = true;
  AGone = LState.Gone[ANode];
  if (AGone) return {};
  const THidrawFault* LHit = CountLocked(LState, AKind, ANode, false);
  return LHit ? *LHit : THidrawFault{};
}

template <typename TOpen>
int Opened(const char* APath, TOpen AOpen) {
  const int LNode = NodeOfPath(APath);
  if (LNode < 0) return AOpen();
  bool LGone = false;
  const THidrawFault LFault = Decide(kHidrawOpen, LNode, LGone);
  if (LGone || LFault.Error != 0) {
    errno = LGone ? ENODEV : LFault.Error;
    return -1;
  }
  const int LFd = AOpen();
  if (LFd >= 0 && LFd < kMaxFds) GNodeOf[LFd].store(LNode + 1, std::memory_order_relaxed);
  return LFd;
}

bool NeedsMode(int AFlags) { return (AFlags & O_CREAT) != 0 || (AFlags & O_TMPFILE) == O_TMPFILE; }

}  // namespace

extern "C" {

void hidraw_faults_set(const THidrawFault* AFaults, int ACount) {
  TFaultState& LState = State();
  std::lock_guard<std::mutex> LGuard(LState.Lock);
  LState.Faults.assign(AFaults, AFaults + (AFaults ? ACount : 0));
  LState.NodeOfFault.clear();
  for (const THidrawFault& LFault : LState.Faults)
    LState.NodeOfFault.push_back(LFault.Node ? NodeOfPath(LFault.Node) : -1);
  LState.Counts.assign(LState.Faults.size(), 0);
  std::memset(LState.Calls, 0, sizeof LState.Calls);
  LState.Hits = 0;
  std::memset(LState.Gone, 0, sizeof LState.Gone);
}

int hidraw_faults_calls(int AKind) {
  if (AKind < 0 || AKind >= kHidrawCallKinds) return 0;
  TFaultState& LState = State();
  std::lock_guard<std::mutex> LGuard(LState.Lock);
  return LState.Calls[AKind];
}

int hidraw_faults_hits(void) {
  TFaultState& LState = State();
  std::lock_guard<std::mutex> LGuard(LState.Lock);
  return LState.Hits;
}

int open(const char* APath, int AFlags, ...) {
  mode_t LMode = 0;
  if (NeedsMode(AFlags)) {
    va_list LArgs;
    va_start(LArgs, AFlags);
    LMode = static_cast<mode_t>(va_arg(LArgs, int));
    va_end(LArgs);
  }
  static const auto LNext = Next<int (*)(const char*, int, ...)>("open");
  return Opened(APath, [&] { return LNext(APath, AFlags, LMode); });
}

int close(int AFd) {
  static const auto LNext = Next<int (*)(int)>("close");
  if (AFd >= 0 && AFd < kMaxFds) GNodeOf[AFd].store(0, std::memory_order_relaxed);
  return LNext(AFd);
}

ssize_t read(int AFd, void* ABuffer, size_t ACount) {
  static const auto LNext = Next<ssize_t (*)(int, void*, size_t)>("read");
  const int LNode = NodeOfFd(AFd);
  if (LNode < 0) return LNext(AFd, ABuffer, ACount);
  bool LGone = false;
  const THidrawFault LFault = Decide(kHidrawRead, LNode, LGone);
  if (LGone || LFault.Error != 0) {
    errno = LGone ? EIO : LFault.Error;  // hidraw: a read on a device that left
    return -1;
  }
  return LNext(AFd, ABuffer, ACount);
}

ssize_t write(int AFd, const void* AData, size_t ACount) {
  static const auto LNext = Next<ssize_t (*)(int, const void*, size_t)>("write");
  const int LNode = NodeOfFd(AFd);
  if (LNode < 0) return LNext(AFd, AData, ACount);
  bool LGone = false;
  const THidrawFault LFault = Decide(kHidrawWrite, LNode, LGone);
  if (LGone) {
    errno = ENODEV;
    return -1;
  }
  if (LFault.ShortBy > 0 && static_cast<size_t>(LFault.ShortBy) < ACount) {
    const size_t LTaken = ACount - static_cast<size_t>(LFault.ShortBy);
    std::vector<unsigned char> LCut(ACount, 0);
    std::memcpy(LCut.data(), AData, LTaken);
    const ssize_t LWritten = LNext(AFd, LCut.data(), ACount);
    return LWritten < 0 ? LWritten : static_cast<ssize_t>(LTaken);
  }
  if (LFault.Error != 0) {
    errno = LFault.Error;
    return -1;
  }
  return LNext(AFd, AData, ACount);
}

int poll(pollfd* AFds, nfds_t ACount, int ATimeoutMs) {
  static const auto LNext = Next<int (*)(pollfd*, nfds_t, int)>("poll");
  int LWatched = -1;  // a node among the descriptors, and what is awaited on it
  short LEvents = 0;
  for (nfds_t LIdx = 0; LIdx < ACount; ++LIdx) {
    const int LNode = NodeOfFd(AFds[LIdx].fd);
    if (LNode < 0) continue;
    if (LWatched < 0) LWatched = LNode;
    LEvents = static_cast<short>(LEvents | AFds[LIdx].events);
  }
  if (LWatched < 0) return LNext(AFds, ACount, ATimeoutMs);

  TFaultState& LState = State();
  std::vector<nfds_t> LGoneAt;
  {
    std::lock_guard<std::mutex> LGuard(LState.Lock);
    ++LState.Calls[kHidrawPoll];
    const THidrawFault* LHit = CountLocked(LState, kHidrawPoll, LWatched, false, LEvents);
    if (LHit && LHit->Error != 0) {
      errno = LHit->Error;
      return -1;
    }
    for (nfds_t LIdx = 0; LIdx < ACount; ++LIdx) {
      const int LNode = NodeOfFd(AFds[LIdx].fd);
      if (LNode >= 0 && LState.Gone[LNode]) LGoneAt.push_back(LIdx);
    }
  }
  if (!LGoneAt.empty()) {
    // A gone node is ready at once with its hang-up; the rest are looked at
    // without waiting.
    std::vector<int> LFds;
    for (nfds_t LIdx : LGoneAt) {
      LFds.push_back(AFds[LIdx].fd);
      AFds[LIdx].fd = -1;
    }
    int LReady = LNext(AFds, ACount, 0);
    if (LReady < 0) LReady = 0;
    for (size_t LAt = 0; LAt < LGoneAt.size(); ++LAt) {
      AFds[LGoneAt[LAt]].fd = LFds[LAt];
      AFds[LGoneAt[LAt]].revents = POLLERR | POLLHUP;
    }
    return LReady + static_cast<int>(LGoneAt.size());
  }
  return LNext(AFds, ACount, ATimeoutMs);
}

}  // extern "C"

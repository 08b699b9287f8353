#include <windows.h>

#include "ChildProcess.h"
#include "ThreadStack.h"

namespace stationtest {

const char* const kWriteFaultName = "(access violation)";
// A stack that overflows; and, whatever Wine delivers then, the report
// of one raised on a stack left with the room it keeps only.
const std::vector<TOtherCrash> kOtherCrashes = {{"stack-overflow", "(stack overflow)"},
                                                {"report-on-kept-stack", "(stack overflow)"}};

namespace {

constexpr ULONG_PTR kGuardPages = 3 * 4096;  // the guard page and its neighbours, as Windows keeps them

uintptr_t Descend(ULONG_PTR AStopAt) {
  volatile char frame[1024];
  frame[0] = 1;
  if (AStopAt != 0 && reinterpret_cast<ULONG_PTR>(&frame[0]) < AStopAt) {
    RaiseException(EXCEPTION_STACK_OVERFLOW, 0, 0, nullptr);
    return 0;
  }
  return Descend(AStopAt) + frame[0];
}

}  // namespace

void CrashAs(const std::string& AKind) {
  ULONG_PTR low = 0, high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  Descend(AKind == "report-on-kept-stack" ? low + kCrashReportStackBytes + kGuardPages : 0);
}

TChildEnd RunChild(const std::filesystem::path& AProgram, const std::vector<std::string>& AArgs) {
  std::wstring line = L"\"" + AProgram.native() + L"\"";
  for (const std::string& arg : AArgs) line += L" \"" + std::wstring(arg.begin(), arg.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  TChildEnd end;
  if (!CreateProcessW(AProgram.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return end;
  end.Started = true;
  end.MainThread = process.dwThreadId;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  // A process that an exception ended exits with the exception's code.
  end.Crashed = code >= 0xC0000000;
  end.ExitCode = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return end;
}

}  // namespace stationtest

#include <windows.h>

#include "ChildProcess.h"

namespace stationtest {

const char* const kWriteFaultName = "(access violation)";

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

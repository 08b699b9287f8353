// Closes the console of a program as Windows does: once FILE holds TEXT, a
// thread of the program starts at kernelbase's CtrlRoutine with
// CTRL_CLOSE_EVENT (Wine exports it too). Says on standard error how many
// milliseconds after the close the program ended; ends with its exit code.
//   ConsoleClose FILE TEXT PROGRAM [ARGUMENT...]
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string line = "\"" + std::string(argv[3]) + "\"";
  for (int i = 4; i < argc; ++i) line += " \"" + std::string(argv[i]) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) return 2;
  const auto holds = [&] {
    std::ifstream in(argv[1], std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {}).find(argv[2]) != std::string::npos;
  };
  while (!holds() && WaitForSingleObject(child.hProcess, 50) == WAIT_TIMEOUT) {
  }
  const auto close = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
  const DWORD start = GetTickCount();
  if (!close || !CreateRemoteThread(child.hProcess, nullptr, 0, close, reinterpret_cast<void*>(CTRL_CLOSE_EVENT), 0,
                                    nullptr)) {
    std::fprintf(stderr, "the close could not be delivered\n");
    TerminateProcess(child.hProcess, 1);
    return 2;
  }
  WaitForSingleObject(child.hProcess, 10000);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  std::fprintf(stderr, "ended %lu ms after the close, exit code %lu\n", GetTickCount() - start, code);
  return static_cast<int>(code);
}

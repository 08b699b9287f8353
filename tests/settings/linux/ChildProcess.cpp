#include <spawn.h>
#include <sys/wait.h>

#include "ChildProcess.h"

extern char** environ;

namespace stationtest {

const char* const kWriteFaultName = "(SIGSEGV)";
const std::vector<TOtherCrash> kOtherCrashes;
void CrashAs(const std::string&) {}

TChildEnd RunChild(const std::filesystem::path& AProgram, const std::vector<std::string>& AArgs) {
  std::vector<std::string> words{AProgram.string()};
  words.insert(words.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  TChildEnd end;
  pid_t child = 0;
  if (posix_spawn(&child, words[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) return end;
  end.Started = true;
  end.MainThread = static_cast<uint32_t>(child);  // the first thread's number is the process's
  int status = 0;
  if (waitpid(child, &status, 0) != child) return end;
  end.Crashed = WIFSIGNALED(status);
  if (WIFEXITED(status)) end.ExitCode = WEXITSTATUS(status);
  return end;
}

}  // namespace stationtest

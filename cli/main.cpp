// kestrova-flash: the command-line flasher for production benches and scripts.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "FlashRunner.h"

namespace {

TFlashRunner* GRunner = nullptr;

extern "C" void OnInterrupt(int) {
  if (GRunner) GRunner->Interrupt();
}

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  try {
    options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const ECliUsage& e) {
    std::cerr << "kestrova-flash: " << e.what() << " (exit code "
              << static_cast<int>(TExitCode::BadInput) << ")" << std::endl;
    return static_cast<int>(TExitCode::BadInput);
  }
  TFlashRunner runner(options,
                      {std::cout, std::cerr, ::isatty(::fileno(stdout)) != 0, ::isatty(::fileno(stderr)) != 0});
  GRunner = &runner;
  std::signal(SIGINT, OnInterrupt);
  const TExitCode code = runner.Run();
  std::signal(SIGINT, SIG_DFL);
  GRunner = nullptr;
  return static_cast<int>(code);
}

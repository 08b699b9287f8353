// kestrova-flash: the command-line flasher for production benches and scripts.
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "Console.h"
#include "FlashRunner.h"

namespace {

TFlashRunner* GRunner = nullptr;

void OnInterrupt() {
  if (GRunner) GRunner->Interrupt();
}

}  // namespace

int main(int argc, char** argv) {
  const TUtf8Console console;
  TCliOptions options;
  try {
    options = ParseCliOptions(CommandLineArguments(argc, argv));
  } catch (const ECliUsage& e) {
    std::cerr << "kestrova-flash: " << e.what() << " (exit code "
              << static_cast<int>(TExitCode::BadInput) << ")" << std::endl;
    return static_cast<int>(TExitCode::BadInput);
  }
  TFlashRunner runner(options,
                      {std::cout, std::cerr, ::isatty(::fileno(stdout)) != 0, ::isatty(::fileno(stderr)) != 0});
  GRunner = &runner;
  TExitCode code;
  {
    const TInterruptWatch watch(&OnInterrupt);
    code = runner.Run();
  }
  GRunner = nullptr;
  return static_cast<int>(code);
}

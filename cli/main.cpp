// kestrova-flash: the command-line flasher for production benches and scripts.
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "Console.h"
#include "FlashRunner.h"

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
  const TInterruptWatch watch;
  runner.FollowInterrupts(TInterruptWatch::Interrupted());
  return static_cast<int>(runner.Run());
}

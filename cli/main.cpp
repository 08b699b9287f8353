// kestrova-flash: the command-line flasher for production benches and scripts.
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "Console.h"
#include "FlashRunner.h"
#include "JsonStream.h"
#include "SerialSource.h"

int main(int argc, char** argv) {
  const TUtf8Console console;
  TCliOptions options;
  const std::vector<std::string> args = CommandLineArguments(argc, argv);
  try {
    options = ParseCliOptions(args);
  } catch (const ECliUsage& e) {
    const TExitCode code = TExitCode::BadInput;
    if (AsksFor(args, "--json")) TJsonStream(std::cout).Fatal(code, e.what());
    if (!AsksFor(args, "--json") || !AsksFor(args, "--quiet"))
      std::cerr << "kestrova-flash: " << e.what() << " (exit code " << static_cast<int>(code) << ")" << std::endl;
    return static_cast<int>(code);
  }
  TFlashRunner runner(options,
                      {std::cout, std::cerr, ::isatty(::fileno(stdout)) != 0, ::isatty(::fileno(stderr)) != 0});
  runner.SetSerials(StandardInputSerials());
  TInterruptWatch watch;
  runner.FollowInterrupts(TInterruptWatch::Interrupted());
  const int code = static_cast<int>(runner.Run());
  std::cout.flush();
  std::cerr.flush();
  watch.Ended(code);
  return code;
}

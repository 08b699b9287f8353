#include "BoardLink.h"

#include <cstdio>

namespace winetest {

std::string BoardCommand(const std::string& ACommand) {
  std::printf("@@board %s\n", ACommand.c_str());
  std::fflush(stdout);
  char LLine[4096];
  if (!std::fgets(LLine, sizeof LLine, stdin)) return {};
  std::string LAnswer(LLine);
  while (!LAnswer.empty() && (LAnswer.back() == '\n' || LAnswer.back() == '\r')) LAnswer.pop_back();
  return LAnswer;
}

}  // namespace winetest

// The one way a fuzz target reports a broken property: a message on
// stderr and abort(), which libFuzzer records as a crash with its input
// and the replay main turns into a failed test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void FuzzFail(const char* AFile, int ALine, const char* ACondition,
                                  const std::string& AWhat) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n  %s\n", AFile, ALine, ACondition,
               AWhat.c_str());
  std::abort();
}

#define FUZZ_CHECK(ACondition, AWhat)                                     \
  do {                                                                    \
    if (!(ACondition)) FuzzFail(__FILE__, __LINE__, #ACondition, (AWhat)); \
  } while (false)

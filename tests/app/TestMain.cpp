// The tests of the application share one application object, as the real
// program does.
#include <gtest/gtest.h>

#include "AppHarness.h"

int main(int argc, char** argv) {
  TAppProcess process(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

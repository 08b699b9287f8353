// The tests of the application share one application object, as the real
// program does.
#include <gtest/gtest.h>

#include "KestrovaApplication.h"
#include "Orvik.ThreadRunner.h"
#include "QtHidEventLoop.h"
#include "Velmora.Utils.Log.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ThreadRunnerModuleInit();
  LogWriterInitialize();
  TKestrovaApplication app(argc, argv);
  TQtHidEventLoop hidLoop;
  hid::SetEventLoop(&hidLoop);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  hid::SetEventLoop(nullptr);
  return result;
}

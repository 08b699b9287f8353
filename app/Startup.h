// Start-up and shutdown of the configurator, in the order in which the
// parts come up and go down.
#pragma once

#include <functional>

// Runs the application. AOnShown runs on the main thread right after the
// main window was shown (the tests use it to act as the technician). Ends
// the process itself when an abandoned update is still running at the end.
int RunKestrovaSetup(int& argc, char** argv, const std::function<void()>& AOnShown = {});

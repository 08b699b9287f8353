// The configurator's executable. It takes no command-line arguments.
#include "Startup.h"

int main(int argc, char** argv) { return RunKestrovaSetup(argc, argv); }

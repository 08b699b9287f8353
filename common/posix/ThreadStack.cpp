#include "ThreadStack.h"

void KeepStackForCrashReport() {}

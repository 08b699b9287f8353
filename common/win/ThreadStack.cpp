#include "ThreadStack.h"

#include <windows.h>

void KeepStackForCrashReport() {
  ULONG bytes = kCrashReportStackBytes;
  ::SetThreadStackGuarantee(&bytes);  // refused only for more than the stack holds
}

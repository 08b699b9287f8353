// The C library runs thread_local destructors before their storage goes.
#include "ThreadLocals.h"

TThreadLocalsSafe::TThreadLocalsSafe() = default;

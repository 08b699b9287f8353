#include "ThreadLocals.h"

#if defined(__GNUC__)
extern "C" int __cxa_thread_atexit(void (*ADestructor)(void*), void* AObject, void* ADso) noexcept;
extern "C" void* __dso_handle;

namespace {

void Nothing(void*) {}

}  // namespace

TThreadLocalsSafe::TThreadLocalsSafe() {
  // Once for the process; a static's guard uses no thread-local storage.
  static const bool kFirst = (__cxa_thread_atexit(&Nothing, nullptr, &__dso_handle), true);
  (void)kFirst;
}
#else
// Microsoft's compiler keeps thread-local storage natively.
TThreadLocalsSafe::TThreadLocalsSafe() = default;
#endif

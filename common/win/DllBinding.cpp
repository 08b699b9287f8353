#include "DllBinding.h"

namespace winbind {

bool TDllBinding::Acquire(std::initializer_list<TDllFunction> AFunctions) {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (FUsers > 0) {
    ++FUsers;
    return true;
  }
  // From the system folder only: a library of the same name beside the
  // program (or in the current folder) is never taken.
  HMODULE LModule = ::LoadLibraryExW(FLibrary, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!LModule) return false;
  for (const TDllFunction& LFunction : AFunctions) {
    FARPROC LAddress = ::GetProcAddress(LModule, LFunction.Name);
    if (!LAddress) {
      for (const TDllFunction& LClear : AFunctions) LClear.Store(nullptr);
      ::FreeLibrary(LModule);
      return false;
    }
    LFunction.Store(reinterpret_cast<TAnyFunction>(LAddress));
  }
  FModule = LModule;
  FUsers = 1;
  return true;
}

void TDllBinding::Release() {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (FUsers == 0 || --FUsers > 0) return;
  ::FreeLibrary(FModule);
  FModule = nullptr;
}

bool TDllBinding::Bound() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FUsers > 0;
}

}  // namespace winbind

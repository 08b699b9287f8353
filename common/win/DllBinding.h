// Run-time binding of one system library, all or nothing and counted per
// process: the first user loads it, the last one releases it, and when one
// function is missing nothing of the library is used.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <mutex>

namespace winbind {

using TAnyFunction = void (*)();

struct TDllFunction {
  const char* Name;
  std::function<void(TAnyFunction)> Store;  // receives the address, or null to clear
};

class TDllBinding {
 public:
  explicit TDllBinding(const wchar_t* ALibrary) : FLibrary(ALibrary) {}
  // Loads the library on the first call and resolves every function.
  bool Acquire(std::initializer_list<TDllFunction> AFunctions);
  void Release();
  bool Bound() const;

 private:
  const wchar_t* FLibrary;
  mutable std::mutex FLock;
  HMODULE FModule = nullptr;
  int FUsers = 0;
};

// Stores a resolved address in a typed function pointer.
template <class F>
TDllFunction Bind(const char* AName, F*& ASlot) {
  return {AName, [&ASlot](TAnyFunction AAddress) { ASlot = reinterpret_cast<F*>(AAddress); }};
}

}  // namespace winbind

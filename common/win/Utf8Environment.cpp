// The environment read in its own form, UTF-16, and handed on as UTF-8.
#include <windows.h>

#include <vector>

#include "Utf8Environment.h"

namespace {

std::wstring Wide(const char* AText) {
  const int chars = ::MultiByteToWideChar(CP_UTF8, 0, AText, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(chars > 0 ? chars : 1), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, AText, -1, out.data(), chars);
  out.resize(out.size() - 1);  // the terminating NUL
  return out;
}

std::string Utf8(const std::wstring& AText) {
  if (AText.empty()) return {};
  const int length = static_cast<int>(AText.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, AText.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, AText.data(), length, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

std::optional<std::string> Utf8Environment(const char* AName) {
  const std::wstring name = Wide(AName);
  const DWORD needed = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (needed == 0) {
    if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::vector<wchar_t> value(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(), needed);
  return Utf8(std::wstring(value.data(), length < needed ? length : 0));
}

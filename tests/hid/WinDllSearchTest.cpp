// Run-time binding takes HID.dll from the system folder, never the hid.dll
// that the build plants beside this program. Its own program: once any
// hid.dll is loaded, every later load by name returns that one.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "DllBinding.h"

namespace {

// The HID device-interface class, as the system's HID.dll reports it.
constexpr GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::wstring Folder(const std::wstring& APath) { return APath.substr(0, APath.find_last_of(L"\\/")); }

std::wstring ModulePath(HMODULE AModule) {
  wchar_t LPath[MAX_PATH] = {};
  ::GetModuleFileNameW(AModule, LPath, MAX_PATH);
  return LPath;
}

std::wstring Lower(std::wstring AText) {
  for (wchar_t& LChar : AText) LChar = static_cast<wchar_t>(::towlower(LChar));
  return AText;
}

using TGetHidGuid = void(WINAPI*)(GUID*);

GUID GuidFrom(HMODULE AModule) {
  GUID LGuid{};
  auto LGet = reinterpret_cast<TGetHidGuid>(reinterpret_cast<void*>(::GetProcAddress(AModule, "HidD_GetHidGuid")));
  if (LGet) LGet(&LGuid);
  return LGuid;
}

TEST(TWinDllSearch, HidIsBoundFromTheSystemFolderNotFromBesideTheProgram) {
  const std::wstring LPlanted = Folder(ModulePath(nullptr)) + L"\\hid.dll";
  ASSERT_NE(::GetFileAttributesW(LPlanted.c_str()), INVALID_FILE_ATTRIBUTES) << "the build plants hid.dll here";
  ASSERT_EQ(::GetModuleHandleW(L"hid.dll"), nullptr) << "nothing in this program loaded a hid.dll before";

  winbind::TDllBinding LBinding(L"hid.dll");
  TGetHidGuid LGetGuid = nullptr;
  ASSERT_TRUE(LBinding.Acquire({winbind::Bind("HidD_GetHidGuid", LGetGuid)}));
  GUID LGuid{};
  LGetGuid(&LGuid);
  EXPECT_TRUE(::IsEqualGUID(LGuid, kHidClass)) << "the planted hid.dll answered";
  wchar_t LSystem[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(LSystem, MAX_PATH), 0u);
  EXPECT_EQ(Lower(Folder(ModulePath(::GetModuleHandleW(L"hid.dll")))), Lower(LSystem));

  // The planted library is a working stand-in that a search of the
  // program's folder would have found first.
  HMODULE LStranger = ::LoadLibraryExW(LPlanted.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(LStranger, nullptr);
  EXPECT_FALSE(::IsEqualGUID(GuidFrom(LStranger), kHidClass));
  ::FreeLibrary(LStranger);
  LBinding.Release();
}

}  // namespace

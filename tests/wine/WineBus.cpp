#include "WineBus.h"

#include <algorithm>
#include <cctype>

namespace winetest {

bool RunningOnWine() {
  HMODULE LNtdll = ::GetModuleHandleW(L"ntdll.dll");
  return LNtdll && ::GetProcAddress(LNtdll, "wine_get_version");
}

bool IsBoardPath(const std::string& APath) {
  std::string LLower = APath;
  std::transform(LLower.begin(), LLower.end(), LLower.begin(), [](unsigned char C) { return std::tolower(C); });
  return LLower.rfind("\\\\?\\hid#vid_2047&pid_0200", 0) == 0;
}

std::vector<hid::TDiscoveredInterface> BoardInterfaces() {
  std::vector<hid::TDiscoveredInterface> LAll, LBoards;
  if (!hid::OsPlatform().Enumerate(LAll)) ADD_FAILURE() << "discovery failed";
  for (const auto& LInterface : LAll)
    if (IsBoardPath(LInterface.Path)) LBoards.push_back(LInterface);
  return LBoards;
}

bool PumpUntil(const std::function<bool()>& AUntil, DWORD ATimeoutMs) {
  const DWORD LStart = ::GetTickCount();
  while (!AUntil()) {
    if (::GetTickCount() - LStart > ATimeoutMs) return false;
    MSG LMessage;
    while (::PeekMessageW(&LMessage, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&LMessage);
      ::DispatchMessageW(&LMessage);
    }
    ::SleepEx(10, TRUE);
  }
  return true;
}

bool WaitForBoardInterfaces(size_t ACount) {
  return PumpUntil([&] { return BoardInterfaces().size() == ACount; });
}

bool ResetBoard() {
  if (BoardCommand("unplug") != "none") return false;
  if (!WaitForBoardInterfaces(0)) {
    ADD_FAILURE() << "Wine's bus still shows the board it lost";
    return false;
  }
  if (BoardCommand("reset") == "none") return false;
  if (!WaitForBoardInterfaces(1)) {
    ADD_FAILURE() << "Wine's bus does not show the new board; it shows " << BoardInterfaces().size();
    return false;
  }
  return true;
}

namespace {

bool PlugAndPlayServiceRunning() {
  SC_HANDLE LManager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!LManager) return false;
  SC_HANDLE LService = ::OpenServiceW(LManager, L"PlugPlay", SERVICE_QUERY_STATUS);
  SERVICE_STATUS LStatus{};
  const bool LRunning = LService && ::QueryServiceStatus(LService, &LStatus) && LStatus.dwCurrentState == SERVICE_RUNNING;
  if (LService) ::CloseServiceHandle(LService);
  ::CloseServiceHandle(LManager);
  return LRunning;
}

}  // namespace

bool TWineBoardTest::Linked = false;

void TWineBoardTest::SetUpTestSuite() {
  Linked = !BoardCommand("node").empty();
  // A board pulled out while Wine's plug-and-play service is still
  // starting leaves Wine's bus without the next one: wait for the service,
  // then a moment for the devices it announces.
  if (Linked && RunningOnWine()) {
    PumpUntil(PlugAndPlayServiceRunning);
    ::Sleep(kStartSettleMs);
  }
}

void TWineBoardTest::SetUp() {
  if (!Linked) GTEST_SKIP() << "needs the board: run under wine_hid_board";
  ASSERT_TRUE(hid::OsPlatform().Bind());
  // Wine may still be setting up the board it found at its start: pulling
  // it out meanwhile leaves Wine's bus without the next one.
  ASSERT_TRUE(WaitForBoardInterfaces(1)) << "Wine's bus does not show the board";
  ASSERT_TRUE(ResetBoard()) << "Wine's bus does not show a new board";
}

void TWineBoardTest::TearDown() {
  if (Linked) hid::OsPlatform().Unbind();
}

}  // namespace winetest

// Crashes on Windows: the unhandled-exception filter of the process,
// written with the system's own calls. Then the filter that was there
// before (the C runtime's, which hands faults to signal handlers) may
// still handle it; when it does not, the process ends at once with the
// exception's code, as after Windows' own error report, but without its
// dialog, which a technician can do nothing with. (A debugger that is
// attached sees the exception before any filter.) A stack overflow is
// taken before any filter, with what is left of the stack (the room every
// thread keeps, ThreadStack.h), and its report handed to a thread of its
// own, started with the handler. Reports are made in static storage.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "CrashHandler.h"
#include "CrashReport.h"
#include "ThreadStack.h"

namespace station {

namespace {

constexpr wchar_t kAsideSuffix[] = L".new";
constexpr size_t kLongestPath = 32768;  // with the \\?\ prefix

wchar_t gReportFile[kLongestPath];
wchar_t gAsideFile[kLongestPath + std::size(kAsideSuffix)];
LPTOP_LEVEL_EXCEPTION_FILTER gPrevious = nullptr;
std::atomic<bool> gInstalled{false};
std::atomic<bool> gReported{false};
// The thread that reports a stack overflow, what it reports, and the event
// that wakes it. Windows leaves the overflowed thread the room it keeps;
// Wine 8 keeps none (under 2 KB are left when the first handler runs), too
// little for the system's file calls, enough to hand the report over.
HANDLE gOverflowReporter = nullptr;
HANDLE gOverflowed = nullptr;
const EXCEPTION_RECORD* gOverflow = nullptr;
DWORD gOverflowThread = 0;

const char* ExceptionName(DWORD ACode) {
  switch (ACode) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_IN_PAGE_ERROR: return "page not readable";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned data";
  }
  return "exception";
}

// What happened: the exception's code and address, and for an access
// violation the kind of access and the address it went to.
void Describe(const EXCEPTION_RECORD& ARecord, crash::TCrashText& AWhat) {
  AWhat << "Exception ";
  AWhat.Hex(ARecord.ExceptionCode, 8) << " (" << ExceptionName(ARecord.ExceptionCode) << ") at ";
  AWhat.Hex(reinterpret_cast<uintptr_t>(ARecord.ExceptionAddress), 16);
  if (ARecord.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && ARecord.NumberParameters >= 2) {
    const ULONG_PTR kind = ARecord.ExceptionInformation[0];
    AWhat << (kind == 1 ? ", writing " : kind == 8 ? ", executing " : ", reading ");
    AWhat.Hex(ARecord.ExceptionInformation[1], 16);
  }
}

void Report(const EXCEPTION_RECORD& ARecord, DWORD AThread) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  crash::TCrashText what;
  Describe(ARecord, what);
  crash::WriteCrashReport({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                           now.wMilliseconds},
                          AThread, what.Text());
}

DWORD WINAPI ReportOverflow(void*) {
  WaitForSingleObject(gOverflowed, INFINITE);
  Report(*gOverflow, gOverflowThread);
  return 0;
}

// First of all handlers: the stack that overflowed would not carry the
// search for the others. The process then ends with the exception's code,
// as after the filter.
LONG WINAPI OnStackOverflow(EXCEPTION_POINTERS* AInfo) {
  if (AInfo->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
  if (!gReported.exchange(true)) {
    gOverflow = AInfo->ExceptionRecord;
    gOverflowThread = GetCurrentThreadId();
    SetEvent(gOverflowed);
    WaitForSingleObject(gOverflowReporter, INFINITE);  // it ends once the report is written
  }
  TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* AInfo) {
  if (!gReported.exchange(true)) Report(*AInfo->ExceptionRecord, GetCurrentThreadId());
  const LONG previous = gPrevious != nullptr ? gPrevious(AInfo) : EXCEPTION_CONTINUE_SEARCH;
  return previous == EXCEPTION_CONTINUE_SEARCH ? EXCEPTION_EXECUTE_HANDLER : previous;
}

}  // namespace

size_t crash::ReadReportFile(std::span<char> ABuffer) {
  const HANDLE file = CreateFileW(gReportFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) > ABuffer.size()) {
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart - static_cast<LONGLONG>(ABuffer.size());
    SetFilePointerEx(file, from, nullptr, FILE_BEGIN);
  }
  size_t length = 0;
  DWORD got = 0;
  while (length < ABuffer.size() &&
         ReadFile(file, ABuffer.data() + length, static_cast<DWORD>(ABuffer.size() - length), &got, nullptr) &&
         got > 0)
    length += got;
  CloseHandle(file);
  return length;
}

bool crash::ReplaceReportFile(std::initializer_list<std::string_view> AParts) {
  const HANDLE file =
      CreateFileW(gAsideFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = true;
  for (std::string_view part : AParts) {
    DWORD put = 0;
    while (written && !part.empty()) {
      written = WriteFile(file, part.data(), static_cast<DWORD>(part.size()), &put, nullptr) && put > 0;
      if (written) part.remove_prefix(put);
    }
  }
  written = FlushFileBuffers(file) && written;
  CloseHandle(file);
  return written && MoveFileExW(gAsideFile, gReportFile, MOVEFILE_REPLACE_EXISTING);
}

bool InstallCrashHandler(const std::filesystem::path& AReportFile) {
  const std::wstring& file = AReportFile.native();
  if (file.size() >= std::size(gReportFile)) return false;
  std::memcpy(gReportFile, file.c_str(), (file.size() + 1) * sizeof(wchar_t));
  std::memcpy(gAsideFile, file.c_str(), file.size() * sizeof(wchar_t));
  std::memcpy(gAsideFile + file.size(), kAsideSuffix, sizeof kAsideSuffix);
  if (!gInstalled.exchange(true)) {
    gOverflowed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (gOverflowed != nullptr)
      gOverflowReporter = CreateThread(nullptr, kCrashReportStackBytes, &ReportOverflow, nullptr,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (gOverflowReporter != nullptr) AddVectoredExceptionHandler(1, &OnStackOverflow);
    gPrevious = SetUnhandledExceptionFilter(OnCrash);
  }
  KeepStackForCrashReport();  // the installing (main) thread; the others keep theirs as they start
  return true;
}

}  // namespace station

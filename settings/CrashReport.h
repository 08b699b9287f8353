// The report of a crash, made and written without allocating memory or
// taking a lock: the crash may have come in the middle of either. The
// system's crash handler (linux/, win/ CrashHandler.cpp) supplies the
// time, the thread, what happened, and the calls on the report file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace station::crash {

struct TLocalTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// One line of text in fixed storage; what does not fit is left out.
class TCrashText {
 public:
  TCrashText& operator<<(std::string_view AText);
  // ADigits decimal digits at least, with leading zeros.
  TCrashText& Decimal(uint64_t AValue, int ADigits = 1);
  // "0x" and ADigits upper-case hexadecimal digits.
  TCrashText& Hex(uint64_t AValue, int ADigits);
  std::string_view Text() const { return {FText, FLength}; }

 private:
  char FText[256];
  size_t FLength = 0;
};

// Appends the report of a crash of thread AThread to the report file,
// keeping the file below its limit as every report does.
void WriteCrashReport(const TLocalTime& ATime, uint32_t AThread, std::string_view AWhat);

// The system's calls. The report file's content into ABuffer (its end,
// when longer); its length, 0 when there is none.
size_t ReadReportFile(std::span<char> ABuffer);
// Writes the parts one after another beside the report file and renames
// that over it; false when that fails.
bool ReplaceReportFile(std::initializer_list<std::string_view> AParts);

}  // namespace station::crash

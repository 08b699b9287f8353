#include "CrashReport.h"

#include <algorithm>

#include "BugReportFile.h"

namespace station::crash {

namespace {

// Static: a crashed thread's stack may be nearly used up.
char gExisting[kBugReportLimit];
char gReport[1024];

}  // namespace

TCrashText& TCrashText::operator<<(std::string_view AText) {
  const size_t count = std::min(AText.size(), sizeof FText - FLength);
  std::copy_n(AText.data(), count, FText + FLength);
  FLength += count;
  return *this;
}

TCrashText& TCrashText::Decimal(uint64_t AValue, int ADigits) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + AValue % 10);
    AValue /= 10;
  } while (AValue != 0 && count < 20);
  while (count < ADigits && count < 20) digits[count++] = '0';
  while (count > 0) *this << std::string_view(&digits[--count], 1);
  return *this;
}

TCrashText& TCrashText::Hex(uint64_t AValue, int ADigits) {
  *this << "0x";
  for (int shift = (ADigits - 1) * 4; shift >= 0; shift -= 4)
    *this << std::string_view(&"0123456789ABCDEF"[(AValue >> shift) & 0xF], 1);
  return *this;
}

void WriteCrashReport(const TLocalTime& ATime, uint32_t AThread, std::string_view AWhat) {
  TCrashText time, thread;
  time.Decimal(static_cast<uint64_t>(ATime.Year), 4) << "-";
  time.Decimal(static_cast<uint64_t>(ATime.Month), 2) << "-";
  time.Decimal(static_cast<uint64_t>(ATime.Day), 2) << " ";
  time.Decimal(static_cast<uint64_t>(ATime.Hour), 2) << ":";
  time.Decimal(static_cast<uint64_t>(ATime.Minute), 2) << ":";
  time.Decimal(static_cast<uint64_t>(ATime.Second), 2) << ".";
  time.Decimal(static_cast<uint64_t>(ATime.Millisecond), 3);
  thread.Hex(AThread, 8);
  const size_t length =
      std::min(FormatBugReport(gReport, time.Text(), thread.Text(), AWhat), sizeof gReport);
  const std::string_view report(gReport, length);
  const std::string_view kept =
      KeptBefore(std::string_view(gExisting, ReadReportFile(gExisting)), report.size());
  ReplaceReportFile({kept, NeedsLineEnd(kept) ? "\n" : "", report});
}

}  // namespace station::crash

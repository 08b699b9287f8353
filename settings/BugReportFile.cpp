#include "BugReportFile.h"

#include <system_error>

#include "WholeFile.h"

namespace station {

namespace {

constexpr std::string_view kReportStart = "\n==== ";  // a line end and the mark

// Writes into a span as far as it goes and counts every character.
class TBoundedText {
 public:
  explicit TBoundedText(std::span<char> AOut) : FOut(AOut) {}
  void Put(char AChar) {
    if (FLength < FOut.size()) FOut[FLength] = AChar;
    ++FLength;
  }
  void Put(std::string_view AText) {
    for (const char c : AText) Put(c);
  }
  size_t Length() const { return FLength; }

 private:
  std::span<char> FOut;
  size_t FLength = 0;
};

}  // namespace

size_t FormatBugReport(std::span<char> AOut, std::string_view ATime, std::string_view AThread,
                       std::string_view AMessage) {
  TBoundedText out(AOut);
  out.Put(kBugReportMark);
  out.Put(ATime);
  out.Put(" ====\nThread: ");
  for (const char c : AThread) out.Put(c == '\n' ? ' ' : c);
  out.Put("\nError: ");
  for (size_t i = 0; i < AMessage.size(); ++i) {
    if (AMessage.substr(i, 2) == "\r\n") continue;
    out.Put(AMessage[i]);
    if (AMessage[i] == '\n') out.Put("  ");
  }
  out.Put("\n\n");
  return out.Length();
}

std::string FormatBugReport(std::string_view ATime, std::string_view AThread, std::string_view AMessage) {
  std::string report(FormatBugReport(std::span<char>(), ATime, AThread, AMessage), '\0');
  FormatBugReport(report, ATime, AThread, AMessage);
  return report;
}

bool NeedsLineEnd(std::string_view AKept) { return !AKept.empty() && AKept.back() != '\n'; }

std::string_view KeptBefore(std::string_view AExisting, size_t AReportSize, size_t ALimit) {
  if (AReportSize >= ALimit) return {};
  const size_t lineEnd = NeedsLineEnd(AExisting) ? 1 : 0;
  for (size_t start = 0; start < AExisting.size();) {
    if (AExisting.size() + lineEnd - start + AReportSize < ALimit) return AExisting.substr(start);
    const size_t next = AExisting.find(kReportStart, start);
    if (next == std::string_view::npos) break;
    start = next + 1;
  }
  return {};
}

std::string AppendWithinLimit(std::string_view AExisting, std::string_view AReport, size_t ALimit) {
  if (AReport.size() >= ALimit) {
    // Alone over the limit: keep its start, which says what happened.
    return std::string(AReport.substr(0, ALimit - 3)) + "\n\n";
  }
  std::string out(KeptBefore(AExisting, AReport.size(), ALimit));
  if (NeedsLineEnd(out)) out += '\n';
  out += AReport;
  return out;
}

bool AppendBugReport(const std::filesystem::path& APath, std::string_view AReport) {
  std::string existing, why;
  std::error_code error;
  if (std::filesystem::exists(APath, error) && !ReadWholeFile(APath, existing, why)) return false;
  return ReplaceWholeFile(APath, AppendWithinLimit(existing, AReport), why);
}

}  // namespace station

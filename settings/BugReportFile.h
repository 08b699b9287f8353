// The bug report file, "bugreport.txt" beside the executable: plain-text
// reports appended one after another, the oldest whole reports dropped so
// that the file stays below its size limit. The general error reporting
// and the crash handler write it; the pieces the crash handler uses
// allocate nothing.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace station {

// The file stays below this many bytes; a longer history is of no use to anyone reading it.
inline constexpr size_t kBugReportLimit = 100000;
// Every report starts with a line beginning with this mark, so reports can be told apart.
inline constexpr char kBugReportMark[] = "==== ";

// One report: time, thread and message. Message lines that would look
// like the start of a report are indented, so they never split a report.
std::string FormatBugReport(std::string_view ATime, std::string_view AThread, std::string_view AMessage);
// The same into AOut, as much as fits; returns the length of the whole report.
size_t FormatBugReport(std::span<char> AOut, std::string_view ATime, std::string_view AThread,
                       std::string_view AMessage);

// What stays of AExisting before a new report of AReportSize bytes: its
// newest whole reports (text before the first mark counts as the oldest),
// as many as fit below ALimit together with the report and a line end
// after them when they do not end with one.
std::string_view KeptBefore(std::string_view AExisting, size_t AReportSize, size_t ALimit = kBugReportLimit);
// True when AKept needs a line end before the next report.
bool NeedsLineEnd(std::string_view AKept);
// AExisting followed by AReport, with the oldest reports dropped (and, for a
// single report over the limit, its end cut) until it is below ALimit bytes.
std::string AppendWithinLimit(std::string_view AExisting, std::string_view AReport,
                              size_t ALimit = kBugReportLimit);
// Appends AReport to the file at APath; false when it cannot be read or
// written. The file is replaced whole, so a failed write loses no older report.
bool AppendBugReport(const std::filesystem::path& APath, std::string_view AReport);

}  // namespace station

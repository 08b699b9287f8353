// The bug report file: plain-text reports appended one after another, the
// oldest whole reports dropped so that the file stays below its size limit.
#pragma once

#include <QByteArray>
#include <QString>

// The file stays below this many bytes; a longer history is of no use to anyone reading it.
constexpr qsizetype kBugReportLimit = 100000;
// Every report starts with a line beginning with this mark, so reports can be told apart.
inline constexpr char kBugReportMark[] = "==== ";

// Builds one report: time, thread and message. Message lines that would look
// like the start of a report are indented, so they never split a report.
QByteArray FormatBugReport(const QByteArray& ATime, const QByteArray& AThread,
                           const QByteArray& AMessage);
// AExisting followed by AReport, with the oldest reports dropped (and, for a
// single report over the limit, its end cut) until it is below ALimit bytes.
QByteArray AppendWithinLimit(const QByteArray& AExisting, const QByteArray& AReport,
                             qsizetype ALimit = kBugReportLimit);
// Appends AReport to the file at APath; false when it cannot be read or written.
bool AppendBugReport(const QString& APath, const QByteArray& AReport);

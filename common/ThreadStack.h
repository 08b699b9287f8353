// Room for the crash report on the stack of a thread whose stack
// overflows: the crash handler runs on what is left of that stack.
#pragma once

// What the report needs there at most: the exception's dispatch, the
// filter with its three lines of text, and the system's file calls.
inline constexpr unsigned long kCrashReportStackBytes = 64 * 1024;

// Keeps kCrashReportStackBytes of the calling thread's stack for the crash
// report (Windows: SetThreadStackGuarantee); called first by every thread
// the program starts. Nothing on Linux, where the crash handler runs on a
// signal stack of its own (that of the thread that installed it).
void KeepStackForCrashReport();

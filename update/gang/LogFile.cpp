#include "LogFile.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "Utf8.h"

std::string LogTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  if (const std::tm* converted = std::localtime(&seconds)) local = *converted;
  char text[96];  // room for any int the format may see
  std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d.%03d]", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  return text;
}

TLogFile::TLogFile(const std::string& AFile) : FOut(Utf8ToPath(AFile), std::ios::app) {}

void TLogFile::Write(const std::string& AText) {
  std::lock_guard<std::mutex> lock(FLock);
  if (!FOut) return;
  FOut << LogTimestamp() << ' ' << AText << '\n';
  FOut.flush();
}

// A log file (kestrova-flash --log FILE, a station's daily log): every
// line of the updates with its time, in the order it happened, from any
// thread.
#pragma once

#include <fstream>
#include <mutex>
#include <string>

class TLogFile {
 public:
  // Opens AFile for appending; Good() tells whether it worked.
  explicit TLogFile(const std::string& AFile);
  bool Good() const { return static_cast<bool>(FOut); }
  // "[yyyy-mm-dd hh:mm:ss.zzz] text", local time.
  void Write(const std::string& AText);

 private:
  std::mutex FLock;
  std::ofstream FOut;
};

// The timestamp in front of a log line, local time with milliseconds.
std::string LogTimestamp();

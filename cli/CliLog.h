// The full log of kestrova-flash (--log FILE): every line of the update
// with its time, in the order it happened, from any thread.
#pragma once

#include <fstream>
#include <mutex>
#include <string>

class TCliLog {
 public:
  // Opens AFile for appending; Good() tells whether it worked.
  explicit TCliLog(const std::string& AFile);
  bool Good() const { return static_cast<bool>(FOut); }
  // "[yyyy-mm-dd hh:mm:ss.zzz] text", local time.
  void Write(const std::string& AText);

 private:
  std::mutex FLock;
  std::ofstream FOut;
};

// The timestamp in front of a log line, local time with milliseconds.
std::string LogTimestamp();

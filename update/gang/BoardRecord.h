// The record of a production run (--record FILE): one JSON object per
// board and line, appended, so that a quality database or a script can
// follow every board by its ID. Lines of boards that end at the same
// moment never mix: each line goes to the file whole, in one write.
#pragma once

#include <chrono>
#include <fstream>
#include <mutex>
#include <string>

#include "ExitCodes.h"
#include "JsonText.h"
#include "UpdateEngine.h"

struct TBoardRecord {
  std::chrono::system_clock::time_point Time;  // when the board's update ended
  std::string Port;
  std::string BoardId;
  std::string Result;  // the engine's name for how it ended ("success", "cancelled", ...)
  TExitCode ExitCode = TExitCode::Ok;  // what a run for this board alone would have ended with
  std::string Stage;   // where the update was when it ended
  double Seconds = 0;
  std::string LoaderSha256, FirmwareSha256;
  bool Verified = false;
  std::string Apn, Login;  // UTF-8; never the password
  std::string Serial;      // scanned for the board (--station); empty when none was asked for
  std::string Station;     // the station's name (--station); empty without one
};

// What the run knows of a board beyond its update: its serial and the
// station that updated it.
struct TBoardTags {
  std::string Serial, Station;
};

// The record of one board's update, as AOptions asked for it.
TBoardRecord RecordOf(const update::TUpdateOutcome& AOutcome, const update::TUpdateOptions& AOptions,
                      const TBoardTags& ATags = {});

// The record's fields, as the record line and the --json stream's end
// event show them.
TJsonFields BoardRecordFields(const TBoardRecord& ARecord);
// The record as one line of JSON, with its line end.
std::string BoardRecordLine(const TBoardRecord& ARecord);
// "2026-12-09T20:31:05Z".
std::string UtcTimeText(std::chrono::system_clock::time_point ATime);

class TRecordFile {
 public:
  // Opens AFile for appending; Good() tells whether it worked.
  explicit TRecordFile(const std::string& AFile);
  bool Good() const { return static_cast<bool>(FOut); }
  // Any thread. False when the line did not reach the file whole.
  bool Append(const TBoardRecord& ARecord);

 private:
  std::mutex FLock;
  std::ofstream FOut;
};

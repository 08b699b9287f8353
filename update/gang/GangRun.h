// A gang: every board under its loader at once, each known by its port
// (the board that comes back under the RAM loader is taken back there).
// With Repeat, boards that are connected later start as they come, until
// interrupted. Each board's end goes to the front. kestrova-flash --gang
// and the station both run one.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BoardRuns.h"
#include "SerialSource.h"

// What a front end does with a gang's boards, all on the gang's thread.
class IGangFront {
 public:
  virtual ~IGangFront() = default;
  // A board at APort starts, tagged ATags: the events its update reports to.
  virtual std::shared_ptr<update::IUpdateEvents> Events(const std::string& APort, const TBoardTags& ATags) = 0;
  // A line about the gang as a whole.
  virtual void Line(const std::string& AText) = 0;
  // A board's result, one line (AFailed: it failed, or was not updated).
  virtual void Result(const std::string& APort, const std::string& AText, bool AFailed) = 0;
  // A board the gang has not seen before was found at APort.
  virtual void Arrived(const std::string& /*APort*/) {}
  // The board at APort waits for its serial (said once per board).
  virtual void WaitsForSerial(const std::string& APort) = 0;
  // ASerial was taken for the board at APort.
  virtual void SerialTaken(const std::string& APort, const std::string& ASerial) = 0;
  // A board's update ended (after Result).
  virtual void Ended(const TBoardEnd& /*AEnd*/) {}
  // After every turn of the loop.
  virtual void Turned() {}
};

struct TGangSetup {
  bool Repeat = false;
  std::function<bool()> Interrupted;
  TBoardRuns& Runs;
  std::function<std::vector<update::TBoardSeen>()> NewBoards;  // the boards this run may take now
  // What each board's update is to do; read as each board starts.
  const update::TUpdateOptions& Update;
  IGangFront& Front;
  // The boards each wait for a serial from here before they start (null:
  // no serials); Station names the station in each record.
  ISerialSource* Serials = nullptr;
  std::string Station;
  // Several boards whose ports the system does not tell, at the first
  // look: the gang is refused (else they are taken one at a time).
  bool RefuseUnknownPorts = true;
  // Set from any thread: the boards that failed and are still connected
  // are updated again, with their serials (the gang clears it).
  std::atomic<bool>* Again = nullptr;
  // Called while no board is being updated (a station reads its file again).
  std::function<void()> Idle;
};

struct TGangEnd {
  int Boards = 0;   // started
  int Updated = 0;  // written and verified
  std::vector<std::string> Failed;     // ports, in the order they ended
  std::vector<std::string> Cancelled;  // ports of boards stopped by an interrupt
  std::vector<std::string> NoSerial;   // ports of boards left waiting for a serial (input ended, or interrupted)
  // The boards cannot be told apart (the system gives no ports): why.
  // Nothing was sent to any board.
  std::string Refusal;
};

TGangEnd RunGang(const TGangSetup& ASetup);

// Why boards whose ports the system does not tell are taken one at a time.
extern const char* const kPortsUnknownText;

// The serials a station scans, one per board: a barcode scanner types the
// serial and Enter, so each line is one serial.
#pragma once

#include <deque>
#include <memory>
#include <string>

class ISerialSource {
 public:
  enum class TState { Ready, Waiting, Ended };
  virtual ~ISerialSource() = default;
  // Ready with the next serial in ASerial; Waiting while none has come;
  // Ended once the input is over and every serial taken. Never blocks.
  virtual TState Next(std::string& ASerial) = 0;
};

// Lines as they come in, split and trimmed: blanks and a carriage return
// around a serial are dropped, blank lines skipped.
class TSerialLines {
 public:
  void Add(const std::string& ABytes);
  // The input ended: a last line without its line end counts too.
  void End();
  ISerialSource::TState Next(std::string& ASerial);

 private:
  void Take(std::string ALine);
  std::string FPartial;
  std::deque<std::string> FReady;
  bool FEnded = false;
};

// Standard input, read as it comes without waiting for it (one object at a time).
std::unique_ptr<ISerialSource> StandardInputSerials();

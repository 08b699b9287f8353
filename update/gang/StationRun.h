// A production station at work: the boards at the station file's ports
// updated as they arrive, each with its scanned serial, on a thread of its
// own that also runs the HID layer's event loop. What happens goes to a
// front (the station window) as plain values; the front asks for scans,
// a second try of the failed boards, a new reading of the station file and
// the end. Plain C++: the window presents, this decides.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LogUtils.h"

namespace hid {
class IHidPlatform;
}

// What the header shows of the station, read from its file.
struct TStationHeader {
  std::string File;  // the station file, UTF-8
  std::string Name;
  std::string LoaderName, LoaderSha8;      // the image's file name, the first 8 digits of its SHA-256
  std::string FirmwareName, FirmwareSha8;
  std::string Apn, Login;
  size_t PasswordLength = 0;  // shown as dots
  bool SerialRequired = false;
  // The tiles the station file fixes, in its order (empty: one per port
  // where a board appears).
  struct TSlot {
    std::string Port, Label;
  };
  std::vector<TSlot> Slots;
};

// The shift's totals since the station started.
struct TShiftTotals {
  int Passed = 0, Failed = 0;
  double Yield = 0;          // passed of those that ended, 0..1 (0 before the first)
  double BoardsPerHour = 0;  // boards ended per hour since the first one started
};

// How a board's update ended, as its tile shows it.
struct TTileResult {
  bool Passed = false;
  std::string Cause;  // in words, one line; empty when it passed
  std::string BoardId, Serial;
  std::string Time;   // local "hh:mm:ss" when it ended
  double Seconds = 0;
};

// Called on the station's threads (its own, and each board's update for
// Progress and LogLine), in the order things happen for each board; a
// window hands them to its own thread.
class IStationFront {
 public:
  virtual ~IStationFront() = default;
  // The station file was read (at the start, or again when asked).
  virtual void Header(const TStationHeader& AHeader) = 0;
  // What the header says about the bus: boards at ports the station file
  // does not list (left alone), and whether the system tells ports at all
  // (when not, one board at a time).
  virtual void Bus(const std::vector<std::string>& AUnlisted, bool APortsUnknown) = 0;
  // The station cannot start, or the file read again cannot be used (the
  // station goes on with what it had): the file, the line or both
  // checksums, and what to do. Nothing was sent to any board for it.
  virtual void Refused(const std::string& AText) = 0;
  // A new board at APort: its tile forgets the last result.
  virtual void Arrived(const std::string& APort) = 0;
  // The board at APort waits for a scanned serial (the longest waiting first).
  virtual void WaitsForSerial(const std::string& APort) = 0;
  // Its update starts (ASerial: empty when none is asked for).
  virtual void Started(const std::string& APort, const std::string& ASerial) = 0;
  // The step ("1. Upload bootloader", ...) and how far, 0..100; a few
  // times a second at most.
  virtual void Progress(const std::string& APort, const std::string& AStep, int APercent) = 0;
  // A line of the board's log, as the daily log file has it without time and port.
  virtual void LogLine(const std::string& APort, const std::string& AText, TColor AColor) = 0;
  virtual void Ended(const std::string& APort, const TTileResult& AResult, const TShiftTotals& ATotals) = 0;
  // A line for the operator: a scan refused, a record that could not be written.
  virtual void Said(const std::string& AText) = 0;
};

struct TStationSetup {
  std::string File;  // the station file, UTF-8
  // The HID services when KESTROVA_SIM names no simulated bus (null: the
  // operating system's).
  hid::IHidPlatform* Platform = nullptr;
  // The station's daily log files go here ("<name> yyyy-mm-dd.log"); empty:
  // beside the record file.
  std::string LogFolder;
};

class TStationRun {
 public:
  // Starts the station's thread: reads the file, checks the images and
  // texts, then takes boards as they come.
  TStationRun(TStationSetup ASetup, IStationFront& AFront);
  // Stops (the running updates are cancelled) and waits for the thread.
  ~TStationRun();

  // Any thread. A scanned serial for the board that has waited longest:
  // false, and AWhy, when no board waits for one.
  bool Scan(const std::string& ASerial, std::string& AWhy);
  // Any thread: every failed board still connected is updated again, with its serial.
  void ReflashFailed();
  // Any thread: the station file is read again once no board is being updated.
  void Reload();
  // Any thread: ends the station's thread soon (updates cancelled).
  void Stop();

 private:
  class TImpl;
  std::unique_ptr<TImpl> FImpl;
};

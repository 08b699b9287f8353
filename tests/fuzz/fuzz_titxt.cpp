// TI-TXT images: any text as a loader or application image, checked, and
// sent line by line through the image writer only when the check accepts
// it, as the update does (so no byte of a refused image, let alone of its
// refused line, is sent). Properties: no crash and no hang; a refusal names
// a line of the file; an accepted image is sent exactly as the check read
// it (every data line once, at the check's address, with the check's
// bytes, and every mark in file order) and the writer reaches its end
// line; a loader image leaves the simulated board's RAM as the check says.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BslTestBench.h"
#include "FuzzCheck.h"
#include "SimBoard.h"
#include "TiTxtFile.h"
#include "TiTxtImage.h"

namespace {

// Images of more than a few hundred lines only slow the search down.
constexpr size_t kMaxInput = 8 * 1024;
// A recorder never answers, and nothing the flasher sends needs an answer
// to go on: the client does not wait for one.
constexpr int kNoWait = 0;
// The simulated board's answers to the passwords come at once.
constexpr int kPasswordAnswerMs = 50;
constexpr uint8_t kCmdRxDataBlockFast = 0x1B;
constexpr uint8_t kCmdLoadPC = 0x17;
constexpr uint8_t kCmdTxBslVersion = 0x19;
// Load PC starts the code 4 bytes past the start line's address.
constexpr uint32_t kEntryOffset = 4;

std::string Hex(uint32_t AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(AValue));
  return text;
}

std::string Bytes(const uint8_t* AData, size_t ACount) {
  std::string text;
  for (size_t i = 0; i < ACount; ++i) text += " " + Hex(AData[i]);
  return text;
}

// One line per thing the board was asked to do, and per settings call.
class TEventLog {
 public:
  void Add(const std::string& AEvent) {
    std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(AEvent);
  }
  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FEvents;
  }

 private:
  mutable std::mutex FLock;
  std::vector<std::string> FEvents;
};

std::string Describe(const uint8_t* AReport, uint32_t ALength) {
  if (ALength < 3 || AReport[1] < 1 || AReport[1] + 2u > ALength) return "malformed report";
  const uint8_t* core = AReport + 2;
  const uint32_t size = AReport[1];
  const auto address = [&] { return core[1] | core[2] << 8 | core[3] << 16; };
  if (core[0] == kCmdRxDataBlockFast && size >= 4)
    return "write " + Hex(address()) + ":" + Bytes(core + 4, size - 4);
  if (core[0] == kCmdLoadPC && size == 4) return "load pc " + Hex(address());
  if (core[0] == kCmdTxBslVersion && size == 1) return "version";
  return "command " + Hex(core[0]) + ":" + Bytes(core + 1, size - 1);
}

// A loader device that records every report and never answers.
class TRecordingBoard : public sim::TSimDevice {
 public:
  explicit TRecordingBoard(TEventLog& ALog) : FLog(ALog) {
    VendorID = 0x2047;
    ProductID = 0x0200;
  }
  uint32_t OnOutputReport(const uint8_t* AData, uint32_t ALength) override {
    FLog.Add(Describe(AData, ALength));
    return ALength;
  }

 private:
  TEventLog& FLog;
};

// What the flasher must do for a checked image, in file order.
std::vector<std::string> Expected(const TTiTxtImage& AImage) {
  std::map<int, std::string> byLine;
  for (const TTiTxtSection& section : AImage.Sections) {
    for (const TTiTxtDataLine& line : section.Lines) {
      byLine[line.Line] = "write " + Hex(section.Address + line.Offset) + ":" +
                          Bytes(section.Bytes.data() + line.Offset, line.Count);
    }
  }
  for (const TTiTxtMark& mark : AImage.Marks) {
    switch (mark.Kind) {
      case TTiTxtLineKind::Start:
        byLine[mark.Line] = "load pc " + Hex(mark.Address + kEntryOffset);
        break;
      case TTiTxtLineKind::Version:
        byLine[mark.Line] = "version";
        break;
      case TTiTxtLineKind::Settings:
        byLine[mark.Line] = "settings";
        break;
      default:
        break;
    }
  }
  std::vector<std::string> events;
  for (const auto& [line, event] : byLine) {
    if (line < AImage.EndLine) events.push_back(event);
  }
  return events;
}

std::string Join(const std::vector<std::string>& ALines) {
  std::string text;
  for (const std::string& line : ALines) text += "  " + line + "\n";
  return text;
}

// One bench for the whole run: a board's timer may take it off the bus
// after its input is done, so the bus must never go away.
bsltest::TBench& Bench() {
  static auto* const bench = new bsltest::TBench;
  return *bench;
}

// Hands the device just plugged in to the client.
void Connect() {
  bsltest::TBench& bench = Bench();
  bench.Log.clear();
  FUZZ_CHECK(bench.Attach(), "the board was not found on the bus");
}

void Disconnect(sim::TSimDevice* ADevice) {
  bsltest::TBench& bench = Bench();
  bench.Bsl.SetHidDev(nullptr);
  bench.Bsl.SetOnSet(nullptr);
  if (bench.Device != nullptr) bench.Controller->CheckIn(bench.Device);
  bench.Device = nullptr;
  bench.Bus.Unplug(ADevice);
  bench.Loop.Pump();
}

// Sends an image the check accepted: the writer must take every line of it
// and reach its end line.
void Send(const TTiTxtImage& AImage) {
  try {
    FUZZ_CHECK(WriteImage(Bench().Bsl, AImage, kWriteLineByLine, {}), "an accepted image did not reach its end line");
  } catch (const std::exception& e) {
    FUZZ_CHECK(false, std::string("the writer refused an accepted image: ") + e.what());
  }
}

void CheckAgainstRecorder(const TTiTxtImage& AImage) {
  TEventLog log;
  const auto recorder = std::make_shared<TRecordingBoard>(log);
  Bench().Bus.Plug(recorder);
  Connect();
  Bench().Bsl.SetAnswerTimeoutMs(kNoWait);
  Bench().Bsl.SetOnSet([&log](TBsl*) { log.Add("settings"); });
  Send(AImage);
  Disconnect(recorder.get());
  const std::vector<std::string> expected = Expected(AImage);
  FUZZ_CHECK(log.Events() == expected,
             "expected:\n" + Join(expected) + "sent:\n" + Join(log.Events()));
}

// A loader image through the resident loader of the simulated board.
void CheckAgainstSimulatedBoard(const TTiTxtImage& AImage) {
  const auto board = sim::MakeSimBoard({"no-return"});
  board->PlugInto(Bench().Bus);
  Connect();
  TBsl& bsl = Bench().Bsl;
  bsl.SetAnswerTimeoutMs(kPasswordAnswerMs);
  TBsl_PasswordData password;
  password.fill(0x00);
  bsl.cmd_SendPassword(password);  // wrong: the board erases itself
  password.fill(0xFF);
  FUZZ_CHECK(bsl.cmd_SendPassword(password), "the erased board stayed locked");
  bsl.SetAnswerTimeoutMs(kNoWait);
  Send(AImage);
  Disconnect(board.get());
  for (const TTiTxtRange& range : AImage.Ranges()) {
    FUZZ_CHECK(board->ReadMemory(range.Address, range.Bytes.size()) == range.Bytes,
               "RAM at " + Hex(range.Address) + " differs from the image");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 1 || ASize > kMaxInput) return 0;
  // The first byte chooses the kind of image, the rest is the file.
  const TTiTxtImageKind kind =
      (AData[0] & 1) != 0 ? TTiTxtImageKind::Loader : TTiTxtImageKind::Application;
  const std::vector<std::string> lines =
      SplitTiTxtLines(std::string(reinterpret_cast<const char*>(AData) + 1, ASize - 1));
  // The update's way: nothing goes to a board unless the whole image
  // passed the check, so a refused image sends nothing at all.
  TTiTxtImage image;
  try {
    image = CheckTiTxtImage(lines, kind, "fuzz.txt");
  } catch (const ETiTxtImageError& e) {
    FUZZ_CHECK(e.Line() >= 0 && e.Line() <= static_cast<int>(lines.size()), e.what());
    return 0;
  }
  CheckAgainstRecorder(image);
  if (kind == TTiTxtImageKind::Loader) CheckAgainstSimulatedBoard(image);
  return 0;
}

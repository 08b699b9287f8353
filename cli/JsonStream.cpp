#include "JsonStream.h"

#include "HexText.h"
#include "Utf8.h"

namespace {

constexpr const char* kDots = "••••••••";  // the same however long the password is

// The colour the window gives a line, as a level: "alert" (red: failures,
// and the settings texts as written), "notice" (green: the board found,
// success), "trace" (grey: each report's bytes), "info".
const char* LevelOf(TColor AColor) {
  if (AColor == clRed || AColor == clMaroon) return "alert";
  if (AColor == clGreen) return "notice";
  if (AColor == clGray || AColor == clGrayText) return "trace";
  return "info";
}

// AText with each APart (when there is one) replaced by AShown.
std::string Replaced(std::string AText, const std::string& APart, const std::string& AShown) {
  if (APart.empty()) return AText;
  for (size_t at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + AShown.size()))
    AText.replace(at, APart.size(), AShown);
  return AText;
}

TJsonFields PortField(const std::string& APort) { return TJsonFields().Text("port", APort); }

}  // namespace

void TJsonStream::HidePassword(const std::u16string& APassword) {
  FPassword = Utf16ToUtf8(APassword);
  FPasswordBytes.clear();
  if (APassword.empty()) return;
  // The record holds its length, then each character's low byte.
  FPasswordBytes = Hex2(static_cast<unsigned>(APassword.size()));
  for (const char16_t c : APassword) FPasswordBytes += " " + Hex2(c & 0xFFu);
}

bool TJsonStream::Started() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FStarted;
}

void TJsonStream::Start(const std::string& APort, const std::string& ALoaderSha256,
                        const std::string& AFirmwareSha256) {
  std::lock_guard<std::mutex> lock(FLock);
  FStarted = true;
  FBoards[APort] = {};
  WriteLocked("start",
              PortField(APort).Text("loader_sha256", ALoaderSha256).Text("firmware_sha256", AFirmwareSha256));
}

void TJsonStream::Board(const std::string& APort, const std::string& ABoardId) {
  Write("board", PortField(APort).Text("board_id", ABoardId));
}

void TJsonStream::Progress(const std::string& APort, const update::TUpdateProgress& AProgress) {
  std::lock_guard<std::mutex> lock(FLock);
  TBoardState& board = FBoards[APort];
  const char* stage = update::StageName(AProgress.Stage);
  if (AProgress.Stage != board.Stage) {
    board.Stage = AProgress.Stage;
    board.LastProgress = {};
    WriteLocked("stage", PortField(APort).Text("stage", stage));
  }
  if (AProgress.Total == 0) return;
  const auto now = TClock::now();
  const bool last = AProgress.Done >= AProgress.Total;
  if (!last && now - board.LastProgress < std::chrono::milliseconds(1000 / kProgressPerSecond)) return;
  board.LastProgress = now;
  WriteLocked("progress", PortField(APort)
                              .Text("stage", stage)
                              .Number("done", static_cast<int64_t>(AProgress.Done))
                              .Number("total", static_cast<int64_t>(AProgress.Total))
                              .Text("unit", AProgress.Stage == update::TUpdateStage::Wait ? "ms" : "bytes"));
}

void TJsonStream::Log(const std::string& APort, TColor AColor, const std::string& AText) {
  std::string text = Replaced(AText, FPassword, kDots);
  if (!FPasswordBytes.empty()) text = Replaced(text, FPasswordBytes, FPasswordBytes.substr(0, 2) + " ••");
  Write("log", PortField(APort).Text("level", LevelOf(AColor)).Text("text", text));
}

void TJsonStream::End(const std::string& APort, TBoardRecord ARecord, const std::string& ACause) {
  ARecord.Port = APort;
  std::lock_guard<std::mutex> lock(FLock);
  FBoards.erase(APort);
  WriteLocked("end", BoardRecordFields(ARecord).Text("cause", ACause));
}

void TJsonStream::Totals(int ABoards, int AUpdated, int AFailed, int ACancelled, TExitCode ACode) {
  Write("totals", TJsonFields()
                      .Number("boards", ABoards)
                      .Number("updated", AUpdated)
                      .Number("failed", AFailed)
                      .Number("cancelled", ACancelled)
                      .Number("exit_code", static_cast<int>(ACode)));
}

void TJsonStream::Fatal(TExitCode ACode, const std::string& AMessage) {
  Write("fatal", TJsonFields().Text("message", AMessage).Number("exit_code", static_cast<int>(ACode)));
}

void TJsonStream::Device(const TDeviceSeen& ADevice) {
  TJsonFields fields;
  if (ADevice.Identified)
    fields.Text("vendor_id", Hex4(ADevice.VendorID))
        .Text("product_id", Hex4(ADevice.ProductID))
        .Text("vendor_name", ADevice.VendorName)
        .Text("product_name", ADevice.ProductName);
  else
    fields.Raw("vendor_id", "null").Raw("product_id", "null").Raw("vendor_name", "null").Raw("product_name", "null");
  fields.Text("node", ADevice.Node)
      .Text("port", ADevice.Port)
      .Bool("can_open", ADevice.CanOpen)
      .Text("why_not", ADevice.WhyNot)
      .Bool("board", ADevice.Board);
  Write("device", fields);
}

void TJsonStream::Write(const char* AEvent, const TJsonFields& AFields) {
  std::lock_guard<std::mutex> lock(FLock);
  WriteLocked(AEvent, AFields);
}

void TJsonStream::WriteLocked(const char* AEvent, const TJsonFields& AFields) {
  FOut << TJsonFields().Number("schema", kSchema).Text("event", AEvent).Append(AFields).Object() << '\n';
  FOut.flush();
}

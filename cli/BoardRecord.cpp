#include "BoardRecord.h"

#include <cstdio>

#include "KestrovaVersion.h"
#include "Utf8.h"

TBoardRecord RecordOf(const update::TUpdateOutcome& AOutcome, const update::TUpdateOptions& AOptions) {
  TBoardRecord record;
  record.Time = std::chrono::system_clock::now();
  record.Port = AOutcome.Port;
  record.BoardId = AOutcome.BoardId;
  record.Result = update::ResultName(AOutcome.Result);
  record.ExitCode = ExitCodeOf(AOutcome);
  record.Stage = update::StageName(AOutcome.Stage);
  record.Seconds = AOutcome.Seconds;
  if (AOptions.Loader) record.LoaderSha256 = AOptions.Loader->Sha256;
  if (AOptions.Firmware) record.FirmwareSha256 = AOptions.Firmware->Sha256;
  record.Verified = AOutcome.Verified;
  record.Apn = Utf16ToUtf8(AOptions.Settings[0]);
  record.Login = Utf16ToUtf8(AOptions.Settings[1]);  // [2], the password, stays out
  return record;
}

std::string JsonString(const std::string& AText) {
  // Through UTF-16 and back: what is not UTF-8 leaves as U+FFFD.
  const std::string text = Utf16ToUtf8(Utf8ToUtf16(AText));
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string UtcTimeText(std::chrono::system_clock::time_point ATime) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(ATime);
  const auto day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss<std::chrono::seconds> time(seconds - day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string BoardRecordLine(const TBoardRecord& ARecord) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", ARecord.Seconds);
  const auto field = [](const char* AName, const std::string& AValue) {
    return std::string("\"") + AName + "\":" + AValue;
  };
  return "{" + field("time", JsonString(UtcTimeText(ARecord.Time))) + "," + field("port", JsonString(ARecord.Port)) +
         "," + field("board_id", JsonString(ARecord.BoardId)) + "," + field("result", JsonString(ARecord.Result)) +
         "," + field("exit_code", std::to_string(static_cast<int>(ARecord.ExitCode))) + "," +
         field("stage", JsonString(ARecord.Stage)) + "," + field("seconds", seconds) + "," +
         field("loader_sha256", JsonString(ARecord.LoaderSha256)) + "," +
         field("firmware_sha256", JsonString(ARecord.FirmwareSha256)) + "," +
         field("verified", ARecord.Verified ? "true" : "false") + "," + field("apn", JsonString(ARecord.Apn)) + "," +
         field("login", JsonString(ARecord.Login)) + "," + field("tool_version", JsonString(kKestrovaVersion)) +
         "}\n";
}

TRecordFile::TRecordFile(const std::string& AFile) : FOut(Utf8ToPath(AFile), std::ios::app | std::ios::binary) {}

bool TRecordFile::Append(const TBoardRecord& ARecord) {
  const std::string line = BoardRecordLine(ARecord);
  std::lock_guard<std::mutex> lock(FLock);
  if (!FOut) return false;
  // The stream's buffer takes the line whole; the flush hands it to the
  // system in one write.
  FOut.write(line.data(), static_cast<std::streamsize>(line.size()));
  FOut.flush();
  return static_cast<bool>(FOut);
}

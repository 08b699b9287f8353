#include "BoardRecord.h"

#include <cstdio>

#include "KestrovaVersion.h"
#include "Utf8.h"

TBoardRecord RecordOf(const update::TUpdateOutcome& AOutcome, const update::TUpdateOptions& AOptions,
                      const TBoardTags& ATags) {
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
  record.Serial = ATags.Serial;
  record.Station = ATags.Station;
  return record;
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

TJsonFields BoardRecordFields(const TBoardRecord& ARecord) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", ARecord.Seconds);
  TJsonFields fields;
  fields.Text("time", UtcTimeText(ARecord.Time))
      .Text("port", ARecord.Port)
      .Text("board_id", ARecord.BoardId)
      .Text("result", ARecord.Result)
      .Number("exit_code", static_cast<int>(ARecord.ExitCode))
      .Text("stage", ARecord.Stage)
      .Raw("seconds", seconds)
      .Text("loader_sha256", ARecord.LoaderSha256)
      .Text("firmware_sha256", ARecord.FirmwareSha256)
      .Bool("verified", ARecord.Verified)
      .Text("apn", ARecord.Apn)
      .Text("login", ARecord.Login)
      .Text("serial", ARecord.Serial)
      .Text("station", ARecord.Station)
      .Text("tool_version", kKestrovaVersion);
  return fields;
}

std::string BoardRecordLine(const TBoardRecord& ARecord) { return BoardRecordFields(ARecord).Object() + "\n"; }

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

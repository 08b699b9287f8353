// The settings block of the board: three 41-byte records (length byte and
// up to 40 characters, zero-filled) for the access point name, the login
// and the password, at 0xFE00, 0xFE29 and 0xFE52.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "LogUtils.h"
#include "TiTxtImage.h"

class TBsl;

namespace update {

constexpr uint32_t kSettingsAddress = 0xFE00;  // first record; the block ends at 0xFE7A
constexpr int kSettingsRecordText = 40;        // characters per record, after the length byte
constexpr int kSettingsRecordSize = kSettingsRecordText + 1;
constexpr int kSettingsRecords = 3;

// Access point name, login, password, as typed (UTF-16 code units).
using TSettingsTexts = std::array<std::u16string, kSettingsRecords>;

// "Access point name", "Login", "Password" (AIndex 0 to 2).
const char* SettingsFieldName(int AIndex);

// A character that a record cannot hold exactly: anything above U+00FF,
// of which the board gets the low byte of each UTF-16 code unit.
struct TUnstorableCharacter {
  char32_t Character = 0;
  TBytes Stored;  // what the board would hold instead
};

// What keeps a settings text from reaching the board exactly as typed:
// more characters than a record holds, or characters it cannot store.
// Both front ends ask this one check before anything is sent.
struct TSettingsTextCheck {
  size_t Length = 0;  // in UTF-16 code units, as the record counts them
  std::vector<TUnstorableCharacter> Unstorable;

  bool TooLong() const { return Length > static_cast<size_t>(kSettingsRecordText); }
  bool Exact() const { return !TooLong() && Unstorable.empty(); }
};
TSettingsTextCheck CheckSettingsText(const std::u16string& AText);

// A settings text the board cannot store exactly: where it came from, and why.
class ESettingsText : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// AUtf8Texts (access point name, login, password) as the board takes them;
// throws ESettingsText, naming where the text came from (AWhere), when one
// does not fit its record exactly (too long, or a character above U+00FF).
TSettingsTexts CheckedSettings(const std::array<std::string, kSettingsRecords>& AUtf8Texts,
                               const std::array<std::string, kSettingsRecords>& AWhere);

// "Access point name: č (U+010D) would be stored as 0Dh".
std::string UnstorableLine(int AField, const TUnstorableCharacter& AChar);

// Address of record AIndex (0 to 2).
constexpr uint32_t SettingsRecordAddress(int AIndex) {
  return kSettingsAddress + static_cast<uint32_t>(AIndex * kSettingsRecordSize);
}

// One record of AMaxLength + 1 bytes: the length, then the low 8 bits of
// each code unit, zero-filled. A longer text is cut to AMaxLength and the
// length byte says so. AMaxLength below 0 gives an empty buffer.
TBytes SettingsRecord(const std::u16string& AText, int AMaxLength = kSettingsRecordText);

// Sends one record through ABsl with one fast write: true when the client
// reports it sent. Nothing is sent without a client or device; an error
// inside the client gives false.
bool SaveTextToDev(TBsl* ABsl, const std::u16string& AText, int AMaxLength, uint32_t AAddress);

// The settings callback's work: for each record, APause, the log line
// "WRITE DATA [0xFE00]: <text>" (red), then SaveTextToDev. A record that
// was not sent is not reported further. Returns the records as meant for
// the board, for verification.
std::vector<TTiTxtRange> WriteSettingsBlock(
    TBsl* ABsl, const TSettingsTexts& ATexts,
    const std::function<void()>& APause, const TLogMsg& ALog);

}  // namespace update

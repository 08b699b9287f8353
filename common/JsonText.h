// JSON as kestrova-flash writes it (the record, the --json stream): strings
// escaped, an object's fields in the order they are added, on one line.
#pragma once

#include <cstdint>
#include <string>

// AText as a JSON string, quotes included: control characters, quotes and
// backslashes escaped; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& AText);

class TJsonFields {
 public:
  TJsonFields& Text(const char* AName, const std::string& AValue) { return Raw(AName, JsonString(AValue)); }
  TJsonFields& Number(const char* AName, int64_t AValue) { return Raw(AName, std::to_string(AValue)); }
  TJsonFields& Bool(const char* AName, bool AValue) { return Raw(AName, AValue ? "true" : "false"); }
  // AJson: a value already written as JSON.
  TJsonFields& Raw(const char* AName, const std::string& AJson);
  TJsonFields& Append(const TJsonFields& AMore);
  // "{...}", without a line end.
  std::string Object() const { return "{" + FText + "}"; }

 private:
  std::string FText;
};

#include "CliSettings.h"

#include "DefaultSettings.h"
#include "HexText.h"
#include "Utf8.h"

namespace {

constexpr const char* kNames[] = {"--apn", "--login", "--password"};

void CheckRecordText(const char* AName, const std::u16string& AText) {
  if (AText.size() > static_cast<size_t>(update::kSettingsRecordText))
    throw ECliUsage(std::string(AName) + ": at most " + std::to_string(update::kSettingsRecordText) +
                    " characters fit the board, the text has " + std::to_string(AText.size()));
  for (char16_t c : AText)
    if (c > 0xFF)
      throw ECliUsage(std::string(AName) +
                      ": the board stores only Latin-1 characters (up to U+00FF); the text has U+" +
                      Hex4(c));
}

}  // namespace

update::TSettingsTexts ResolveSettings(const TCliOptions& AOptions) {
  std::array<std::string, 3> texts = {kDefaultApn, kDefaultLogin, kDefaultPassword};
  if (AOptions.SettingsFile) ReadSettingsFile(*AOptions.SettingsFile, texts);
  const std::optional<std::string>* given[] = {&AOptions.Apn, &AOptions.Login, &AOptions.Password};
  update::TSettingsTexts result;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (*given[i]) texts[i] = **given[i];
    result[i] = Utf8ToUtf16(texts[i]);
    CheckRecordText(kNames[i], result[i]);
  }
  return result;
}

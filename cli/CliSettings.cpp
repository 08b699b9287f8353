#include "CliSettings.h"

#include "DefaultSettings.h"
#include "HexText.h"
#include "Utf8.h"

namespace {

constexpr const char* kNames[] = {"--apn", "--login", "--password"};
constexpr const char* kAttributes[] = {"apn", "login", "password"};

// AWhere names where the text came from: an option, or the settings file.
void CheckRecordText(const std::string& AWhere, const std::u16string& AText) {
  const update::TSettingsTextCheck check = update::CheckSettingsText(AText);
  if (check.TooLong())
    throw ECliUsage(AWhere + ": at most " + std::to_string(update::kSettingsRecordText) +
                    " characters fit the board, the text has " + std::to_string(check.Length));
  if (!check.Unstorable.empty())
    throw ECliUsage(AWhere + ": the board stores only Latin-1 characters (up to U+00FF); the text has U+" +
                    Hex4(static_cast<unsigned>(check.Unstorable.front().Character)));
}

}  // namespace

update::TSettingsTexts ResolveSettings(const TCliOptions& AOptions) {
  std::array<std::string, 3> texts = {kDefaultApn, kDefaultLogin, kDefaultPassword};
  std::array<std::string, 3> where = {kNames[0], kNames[1], kNames[2]};
  if (AOptions.SettingsFile) {
    const std::array<std::string, 3> defaults = texts;
    int line = 0;
    ReadSettingsFile(*AOptions.SettingsFile, texts, line);
    // A text the file changed is the file's (the defaults always fit).
    for (size_t i = 0; i < texts.size(); ++i)
      if (texts[i] != defaults[i])
        where[i] = "settings file \"" + *AOptions.SettingsFile + "\"" +
                   (line > 0 ? ", line " + std::to_string(line) : std::string()) + ", " + kAttributes[i];
  }
  const std::optional<std::string>* given[] = {&AOptions.Apn, &AOptions.Login, &AOptions.Password};
  for (size_t i = 0; i < texts.size(); ++i) {
    if (*given[i]) {
      texts[i] = **given[i];
      where[i] = kNames[i];
    }
  }
  return CheckedSettings(texts, where);
}

update::TSettingsTexts CheckedSettings(const std::array<std::string, 3>& ATexts,
                                       const std::array<std::string, 3>& AWhere) {
  update::TSettingsTexts result;
  for (size_t i = 0; i < ATexts.size(); ++i) {
    result[i] = Utf8ToUtf16(ATexts[i]);
    CheckRecordText(AWhere[i], result[i]);
  }
  return result;
}

const char* SettingsAttributeName(size_t AIndex) { return kAttributes[AIndex]; }

#include "CliSettings.h"

#include "DefaultSettings.h"

namespace {

constexpr const char* kNames[] = {"--apn", "--login", "--password"};
constexpr const char* kAttributes[] = {"apn", "login", "password"};

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
  try {
    return update::CheckedSettings(texts, where);
  } catch (const update::ESettingsText& e) {
    throw ECliUsage(e.what());
  }
}

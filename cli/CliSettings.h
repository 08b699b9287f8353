// The three settings texts of kestrova-flash: the window's defaults, then
// a settings file (the window's format), then the options, each checked
// against what a settings record can hold.
#pragma once

#include <array>
#include <string>

#include "CliOptions.h"
#include "SettingsBlock.h"

// Access point name, login, password (UTF-8) from the settings file AFile:
// an attribute that is missing leaves its text as it is. ALine receives the
// line of the settings element (0 when unknown). Throws ECliUsage naming
// the file and what is wrong.
void ReadSettingsFile(const std::string& AFile, std::array<std::string, 3>& ATexts, int& ALine);

// Throws ECliUsage when a text does not fit its record exactly (more than
// 40 characters, or a character above U+00FF, which the board cannot store).
update::TSettingsTexts ResolveSettings(const TCliOptions& AOptions);

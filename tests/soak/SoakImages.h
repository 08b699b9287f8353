// Fresh random images and settings for one run of the chaos soak: a RAM
// loader with its start line, and an application image of one to three
// sections in main flash (and sometimes information memory) with its
// settings line, lines of 1 to 16 bytes, sometimes version lines ("?").
#pragma once

#include <random>
#include <string>
#include <vector>

#include "SettingsBlock.h"

namespace soak {

struct TImages {
  std::vector<std::string> Loader;
  std::vector<std::string> Firmware;
  update::TSettingsTexts Settings;
};

TImages RandomImages(std::mt19937& ARandom);

}  // namespace soak

// What the station's tests and the copies they start agree on.
#pragma once

#include <cstdint>

namespace stationtest {

// The crashing copy writes here: the page at address 0 is never mapped.
inline constexpr std::uintptr_t kBadAddress = 0x10;
inline constexpr char kLockedMark[] = "locked";
inline constexpr char kFolderFile[] = "folder.txt";

}  // namespace stationtest

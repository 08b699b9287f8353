// Paths between the plain layers (std::filesystem) and Qt, which writes
// them with "/" on every system.
#pragma once

#include <QString>

#include <filesystem>

inline QString QtPath(const std::filesystem::path& APath) {
  return QString::fromStdU16String(APath.generic_u16string());
}

inline std::filesystem::path FsPath(const QString& APath) {
  return std::filesystem::path(APath.toStdU16String());
}

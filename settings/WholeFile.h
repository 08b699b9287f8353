// Files read and written whole. A file is replaced by writing the new
// content beside it and renaming that over it, so that the old content
// stays complete until the new one is.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The whole content of APath in ABytes; false with the system's reason in
// AWhy when it cannot be read.
bool ReadWholeFile(const std::filesystem::path& APath, std::string& ABytes, std::string& AWhy);
// Replaces the content of APath (or creates it) with ABytes; the file keeps
// its permissions, and a link keeps leading to it. False with the system's reason in AWhy; APath is then as
// it was.
bool ReplaceWholeFile(const std::filesystem::path& APath, std::string_view ABytes, std::string& AWhy);

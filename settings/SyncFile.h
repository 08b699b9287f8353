// Forces a file's content out of the system's cache onto the disk, so that
// a file renamed over an older one after a power cut holds the new content
// and not nothing.
#pragma once

#include <filesystem>

// False when the file cannot be opened or the system refuses to flush it.
bool SyncFileToDisk(const std::filesystem::path& APath);

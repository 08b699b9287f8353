// File names and environment values are UTF-8 everywhere in the program.
// Windows keeps both in UTF-16 and hands out narrow forms only in the ANSI
// code page, which cannot hold every name ("Jiří" in a Western one): a
// file is therefore opened by the path built here, which is wide there,
// and a variable read here, from the wide environment there.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The path of a UTF-8 file name, for std::filesystem and the file streams.
std::filesystem::path Utf8Path(const std::string& AName);

// The value of an environment variable as UTF-8; none when it is not set.
std::optional<std::string> Utf8Environment(const char* AName);

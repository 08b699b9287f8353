// Environment values are UTF-8 everywhere in the program. Windows keeps the
// environment in UTF-16 and hands out narrow forms only in the ANSI code
// page, which cannot hold every name ("Jiří" in a Western one): a variable
// is read here, from the wide environment there. (Files are opened by the
// paths of Utf8ToPath, which are wide there.)
#pragma once

#include <optional>
#include <string>

// The value of an environment variable as UTF-8; none when it is not set.
std::optional<std::string> Utf8Environment(const char* AName);

// An installed build: the executable lies in a folder the user cannot
// write, so the station's files go to the user's data folder.
#include <pwd.h>
#include <unistd.h>

#include "StationFiles.h"
#include "Utf8Environment.h"

std::filesystem::path station::DefaultFolder() {
  std::optional<std::string> home = Utf8Environment("HOME");
  if (!home || home->empty()) {
    // A session without HOME (started by a service): the account's own.
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
      home = std::string(entry->pw_dir);
  }
  return UserDataFolder(Utf8Environment("XDG_DATA_HOME"), home);
}

// The settings file: the access point name, login and password kept from one
// run to the next in an XML file beside the application file.
#pragma once

#include <filesystem>
#include <string>

// The three texts, UTF-8.
struct TApnTexts {
  std::string Apn, Login, Password;
};

// Reads the three texts from cfgfile. A missing file, element or attribute
// leaves the matching field as it is; an attribute present with an empty value
// empties its field. True when the file holds an ApnSettings element. Throws
// std::runtime_error, naming the file, when it cannot be read or is malformed.
// AElementLine, when given, receives the line of the ApnSettings element
// in the file (0 when there is none or it cannot be told).
bool LoadConfiguration(const std::filesystem::path& cfgfile, TApnTexts& AFields, int* AElementLine = nullptr);

// Writes the three texts into cfgfile (created when missing), keeping all other
// content of the file in place. Throws std::runtime_error when the existing
// file cannot be read or is malformed (the file is then left untouched) or
// when it cannot be written.
void SaveConfiguration(const std::filesystem::path& cfgfile, const TApnTexts& AFields);

// The settings file: the access point name, login and password kept from one
// run to the next in an XML file beside the application file.
#pragma once

#include <QString>

struct TApnTexts {
  QString Apn, Login, Password;
};

// The application file's path with its extension replaced by ".xml"
// ("KestrovaSetup.exe" -> "KestrovaSetup.xml"; a name without one gets ".xml").
QString SettingsFilePath();
// The same rule for any application file path.
QString SettingsFilePathFor(const QString& AApplicationFile);

// Reads the three texts from cfgfile. A missing file, element or attribute
// leaves the matching field as it is; an attribute present with an empty value
// empties its field. Throws std::runtime_error, naming the file, when it
// cannot be read or is malformed.
void LoadConfiguration(const QString& cfgfile, TApnTexts& AFields);

// Writes the three texts into cfgfile (created when missing), keeping all other
// content of the file in place. Throws std::runtime_error when the existing
// file cannot be read or is malformed (the file is then left untouched) or
// when it cannot be written.
void SaveConfiguration(const QString& cfgfile, const TApnTexts& AFields);

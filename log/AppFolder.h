// Where the application keeps its files: the folder of the running
// executable (settings file, logs/, bugreport.txt, firmware images).
#pragma once

#include <QString>

// Folder of the executable with a trailing '/'; the override when set.
QString AppFolder();
// Full path of the executable; its folder follows the override when set.
QString AppFilePath();
// Tests point the application at a scratch folder; empty restores the default.
void SetAppFolderOverride(const QString& AFolder);

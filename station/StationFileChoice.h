// Which station file the window runs: the one named on the command line,
// else the one it last ran (kept in the user's configuration folder), else
// the one the operator picks. Main thread only (the dialog).
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// AArguments: the command line without the program and Qt's own options.
// Empty when none was given and the operator cancelled the dialog.
std::optional<QString> ChooseStationFile(const QStringList& AArguments);

// Kept for the next start without an argument; called once the station
// has read the file.
void RememberStationFile(const QString& AFile);

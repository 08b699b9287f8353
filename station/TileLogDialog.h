// The log of the last board at a tile's port, as the daily log file has it,
// in a window of its own that the operator closes.
#pragma once

#include <QWidget>

class TStationTile;

void ShowTileLog(QWidget& AParent, const TStationTile& ATile);

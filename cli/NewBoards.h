// Boards already updated in this run and still plugged in, by device
// identity: a board is taken again only once it was unplugged and
// connected anew. A board is forgotten when a pass finds it gone: its
// number may come back with the next board. The engine's board predicate
// is a plain function, hence one set for the process.
#pragma once

#include <string>

#include "JvHidControllerClass.h"

void ForgetAllBoards();
// The controller's removal handler.
void ForgetBoard(TJvHidDevice* ADevice);
void MarkBoardDone(uint32_t ADeviceID);
bool IsLoaderBoard(TJvHidDevice* ADevice);
// A board under its loader that this run has not updated yet; the first
// logs every device it looks at (the engine's predicate).
bool FindNewBoard(TJvHidDevice* ADevice);
bool FindNewBoardQuietly(TJvHidDevice* ADevice);

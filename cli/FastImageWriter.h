// The engine's image writer for --fast: the checked image in full fast
// writes (FastWriter.h), framed by the flasher's Begin and End lines.
#pragma once

#include "UpdateEngine.h"

update::TImageWriter FastImageWriter();

// Where an update is, and how far: one word for it in the code, the stage.
// The engine reports every stage as it enters it and how far each goes;
// the technician sees the stages as the window's three steps.
#pragma once

#include <cstdint>

namespace update {

enum class TUpdateStage {
  Images,    // reading and checking the images
  Connect,   // finding and opening the board
  Unlock,    // the two passwords
  Loader,    // writing the RAM loader and starting it
  Wait,      // waiting for the board to come back
  Identify,  // asking the board that came back which loader answers, and its ID
  Firmware,  // writing the application image and the settings records
  Verify,    // comparing the board's memory with what was sent
  Done,
};

// "images", "connect", "unlock", "loader", "wait", "identify", "firmware",
// "verify", "done" (the record's and the progress bars' words).
const char* StageName(TUpdateStage AStage);

// The technician's three steps: 1 uploads the loader (up to its start), 2
// waits for the board, 3 writes the firmware and checks it.
int StepOf(TUpdateStage AStage);
// "1. Upload bootloader", "2. Wait for device", "3. Upload new firmware & settings".
const char* StepText(int AStep);

// One report of how far the update is. Amounts are bytes while an image is
// written or verified (Done of Total), milliseconds while the board is
// awaited; Line is the image line whose data go out next (-1: none), for a
// display that counts lines. A stage is first reported with nothing done.
struct TUpdateProgress {
  TUpdateStage Stage = TUpdateStage::Images;
  uint64_t Done = 0;
  uint64_t Total = 0;
  int Line = -1;
  int Lines = 0;
};

}  // namespace update

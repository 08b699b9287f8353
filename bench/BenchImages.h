// The images the flashing benchmarks write: a 1 KiB RAM loader and an
// application that fills the MSP430F5529's main flash (128 KiB, the
// settings records left to the update), of fixed pseudo-random bytes.
#pragma once

#include <filesystem>

// Writes kestrova.1.ldr.txt and kestrova.2.fw.txt into AFolder.
void WriteBenchImages(const std::filesystem::path& AFolder);

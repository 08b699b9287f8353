// SHA-256 of a byte string (FIPS 180-4), for the checksums of the images
// that a record names beside each board.
#pragma once

#include <string>
#include <string_view>

// The digest in lower-case hexadecimal, 64 characters.
std::string Sha256Hex(std::string_view ABytes);

#include "LogUtils.h"

std::string BytesToHex(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(size * 3);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
    out += ' ';
  }
  return out;
}

std::string BytesToHex(const TBytes& data) { return BytesToHex(data.data(), data.size()); }

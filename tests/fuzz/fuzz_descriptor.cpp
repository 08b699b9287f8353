// HID report descriptors: any bytes through the parser that sizes a
// device's reports. Properties: no crash and no read outside the
// descriptor (under AddressSanitizer); a descriptor whose last item is cut
// short is refused, whatever came before.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "ReportDescriptor.h"

namespace {

constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr size_t kShortItemData[] = {0, 1, 2, 4};  // by the two size bits

// True when the items tile the bytes exactly; framing only, read apart from
// the parser: a short item is a prefix and 0, 1, 2 or 4 data bytes, a long
// item the prefix 0xFE, a size byte, a tag byte and that many data bytes.
bool EndsOnAnItemBoundary(const uint8_t* AData, size_t ASize) {
  size_t pos = 0;
  while (pos < ASize) {
    const uint8_t prefix = AData[pos];
    if (prefix == kLongItemPrefix) {
      if (pos + 1 >= ASize) return false;
      pos += 3 + AData[pos + 1];
    } else {
      pos += 1 + kShortItemData[prefix & 0x03];
    }
  }
  return pos == ASize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  hid::TReportLayout layout;
  const bool accepted = hid::ParseReportDescriptor(AData, ASize, layout);
  if (!EndsOnAnItemBoundary(AData, ASize)) {
    FUZZ_CHECK(!accepted, "a descriptor that ends inside an item was accepted (" +
                              std::to_string(ASize) + " bytes)");
  }
  return 0;
}

#include "ReportDescriptor.h"

#include <algorithm>
#include <map>

namespace hid {
namespace {

// Item prefix: bits 0-1 size code, 2-3 type, 4-7 tag (HID 1.11, 6.2.2.2).
enum TItemType : uint8_t { itMain = 0, itGlobal = 1, itLocal = 2 };
constexpr uint8_t kLongItemPrefix = 0xFE;

// Main items.
constexpr uint8_t kTagInput = 0x8, kTagOutput = 0x9, kTagFeature = 0xB;
constexpr uint8_t kTagCollection = 0xA, kTagEndCollection = 0xC;
// Global items.
constexpr uint8_t kTagUsagePage = 0x0, kTagReportSize = 0x7, kTagReportId = 0x8;
constexpr uint8_t kTagReportCount = 0x9, kTagPush = 0xA, kTagPop = 0xB;
// Local items.
constexpr uint8_t kTagUsage = 0x0;

constexpr uint64_t kBitsPerByte = 8;
// Report lengths are 16-bit fields of the capabilities, ID byte included.
constexpr uint64_t kMaxReportBytes = 0xFFFF;
constexpr uint64_t kMaxReportBits = (kMaxReportBytes - 1) * kBitsPerByte;
// Long items: prefix, data size, tag, then the data (HID 1.11, 6.2.2.3).
constexpr size_t kLongItemHeader = 3;

struct TGlobals {
  uint32_t UsagePage = 0;
  uint32_t ReportSize = 0;
  uint32_t ReportCount = 0;
  uint32_t ReportId = 0;
};

// Bits per report ID for one kind of report; never above kMaxReportBits.
using TReportBits = std::map<uint32_t, uint64_t>;

// Adds a main item's fields to its report; false when the report would no
// longer fit the 16-bit length.
bool AddBits(TReportBits& AReports, const TGlobals& AGlobals) {
  const uint64_t LBits = uint64_t{AGlobals.ReportSize} * AGlobals.ReportCount;  // < 2^64
  uint64_t& LTotal = AReports[AGlobals.ReportId];
  if (LBits > kMaxReportBits - LTotal) return false;
  LTotal += LBits;
  return true;
}

uint16_t LongestReport(const TReportBits& ABits) {
  uint64_t LLongest = 0;
  for (const auto& [LId, LBits] : ABits) LLongest = std::max(LLongest, (LBits + kBitsPerByte - 1) / kBitsPerByte);
  // The report-ID byte (or the 0 byte Windows adds without IDs) counts
  // too; AddBits kept the sum within 16 bits.
  return ABits.empty() ? 0 : static_cast<uint16_t>(LLongest + 1);
}

uint32_t ItemValue(const uint8_t* AData, size_t ASize) {
  uint32_t LValue = 0;
  for (size_t LByte = 0; LByte < ASize; ++LByte) LValue |= static_cast<uint32_t>(AData[LByte]) << (8 * LByte);
  return LValue;
}

}  // namespace

bool ParseReportDescriptor(const uint8_t* AData, size_t ALength, TReportLayout& AOut) {
  AOut = TReportLayout{};
  TGlobals LGlobals;
  std::vector<TGlobals> LStack;
  TReportBits LInput, LOutput, LFeature;
  uint32_t LLastUsage = 0;
  int LDepth = 0;
  bool LHaveTopLevel = false;

  for (size_t LPos = 0; LPos < ALength;) {
    const uint8_t LPrefix = AData[LPos];
    if (LPrefix == kLongItemPrefix) {
      // No long item tags are defined; skip it whole, or refuse it cut.
      if (ALength - LPos < kLongItemHeader || ALength - LPos - kLongItemHeader < AData[LPos + 1]) return false;
      LPos += kLongItemHeader + AData[LPos + 1];
      continue;
    }
    const size_t LSizeCode = LPrefix & 0x3;
    const size_t LSize = LSizeCode == 3 ? 4 : LSizeCode;
    if (ALength - LPos - 1 < LSize) return false;
    const uint32_t LValue = ItemValue(AData + LPos + 1, LSize);
    const uint8_t LType = (LPrefix >> 2) & 0x3;
    const uint8_t LTag = LPrefix >> 4;
    LPos += 1 + LSize;

    if (LType == itGlobal) {
      switch (LTag) {
        case kTagUsagePage: LGlobals.UsagePage = LValue; break;
        case kTagReportSize: LGlobals.ReportSize = LValue; break;
        case kTagReportCount: LGlobals.ReportCount = LValue; break;
        case kTagReportId:
          LGlobals.ReportId = LValue;
          AOut.UsesReportIds = true;
          break;
        case kTagPush: LStack.push_back(LGlobals); break;
        case kTagPop:
          if (LStack.empty()) return false;
          LGlobals = LStack.back();
          LStack.pop_back();
          break;
        default: break;
      }
    } else if (LType == itLocal) {
      // A 4-byte usage carries its own page in the high half.
      if (LTag == kTagUsage) LLastUsage = LSize == 4 ? (LValue & 0xFFFF) : LValue;
    } else if (LType == itMain) {
      switch (LTag) {
        case kTagInput:
          if (!AddBits(LInput, LGlobals)) return false;
          break;
        case kTagOutput:
          if (!AddBits(LOutput, LGlobals)) return false;
          break;
        case kTagFeature:
          if (!AddBits(LFeature, LGlobals)) return false;
          break;
        case kTagCollection:
          if (LDepth == 0 && !LHaveTopLevel) {
            AOut.UsagePage = static_cast<uint16_t>(LGlobals.UsagePage);
            AOut.Usage = static_cast<uint16_t>(LLastUsage);
            LHaveTopLevel = true;
          }
          ++LDepth;
          break;
        case kTagEndCollection:
          if (--LDepth < 0) return false;
          break;
        default: break;
      }
      LLastUsage = 0;  // local items last until the next main item
    }
  }
  if (LDepth != 0) return false;
  AOut.InputReportByteLength = LongestReport(LInput);
  AOut.OutputReportByteLength = LongestReport(LOutput);
  AOut.FeatureReportByteLength = LongestReport(LFeature);
  return true;
}

}  // namespace hid

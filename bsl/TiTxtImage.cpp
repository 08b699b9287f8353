#include "TiTxtImage.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>

#include "PrintableText.h"
#include "Sha256.h"
#include "TiTxtFile.h"

namespace {

// Longest piece of a refused line quoted in a reason.
constexpr size_t kQuoteLength = 24;

std::string Hex(uint32_t AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(AValue));
  return text;
}

// A piece of a line in a reason, its bytes safe to print.
std::string Quote(const std::string& ALine) { return "\"" + PrintableText(ALine, kQuoteLength) + "\""; }

bool Inside(const TTiTxtArea& AArea, uint32_t AAddress) {
  return AAddress >= AArea.Start && AAddress < AArea.End;
}

std::string AreaText(const TTiTxtArea& AArea) {
  return Hex(AArea.Start) + "-" + Hex(AArea.End - 1);
}

// Addresses written so far, as runs (start -> end, end exclusive).
class TWrittenSet {
 public:
  // The first address of [AStart, AEnd) that is already written.
  std::optional<uint32_t> FirstOverlap(uint32_t AStart, uint32_t AEnd) const {
    auto next = FRuns.upper_bound(AStart);
    if (next != FRuns.begin() && std::prev(next)->second > AStart) return AStart;
    if (next != FRuns.end() && next->first < AEnd) return next->first;
    return std::nullopt;
  }
  bool Contains(uint32_t AAddress) const {
    auto next = FRuns.upper_bound(AAddress);
    return next != FRuns.begin() && std::prev(next)->second > AAddress;
  }
  void Add(uint32_t AStart, uint32_t AEnd) {
    auto next = FRuns.upper_bound(AStart);
    if (next != FRuns.begin() && std::prev(next)->second >= AStart) {
      --next;
      AStart = next->first;
      AEnd = std::max(AEnd, next->second);
      next = FRuns.erase(next);
    }
    while (next != FRuns.end() && next->first <= AEnd) {
      AEnd = std::max(AEnd, next->second);
      next = FRuns.erase(next);
    }
    FRuns[AStart] = AEnd;
  }

 private:
  std::map<uint32_t, uint32_t> FRuns;
};

// Reads the lines of one image into a TTiTxtImage, refusing at the first
// line that breaks a rule of its kind.
class TImageChecker {
 public:
  TImageChecker(TTiTxtImageKind AKind, const std::string& AFileName) {
    FImage.Kind = AKind;
    FImage.FileName = AFileName;
  }

  TTiTxtImage Check(const std::vector<std::string>& ALines) {
    FImage.LineCount = static_cast<int>(ALines.size());
    for (size_t i = 0; i < ALines.size() && FImage.EndLine == 0; ++i) {
      FLine = static_cast<int>(i) + 1;
      FImage.Trimmed.push_back(TrimLine(ALines[i]));
      Take(FImage.Trimmed.back());
    }
    if (FImage.LineCount == 0) Refuse(0, "the file is empty");
    if (FImage.EndLine == 0) Refuse(FImage.LineCount, "the file ends without the end line \"q\"");
    if (FImage.Kind == TTiTxtImageKind::Loader) CheckLoaderStart();
    return std::move(FImage);
  }

 private:
  [[noreturn]] void Refuse(int ALine, const std::string& AReason) const {
    throw ETiTxtImageError(FImage.FileName, ALine, AReason);
  }
  [[noreturn]] void Refuse(const std::string& AReason) const { Refuse(FLine, AReason); }

  void Take(const std::string& ALine) {
    const TTiTxtLineKind kind = ClassifyLine(ALine);
    switch (kind) {
      case TTiTxtLineKind::Empty:
        break;
      case TTiTxtLineKind::Address:
        FAddress = Address(ALine, "address");
        FOpen = false;
        break;
      case TTiTxtLineKind::Start:
        FAddress = Address(ALine, "start address");
        FOpen = false;
        if (FImage.StartLine == 0) {
          FImage.StartLine = FLine;
          FImage.StartAddress = FAddress;
        }
        FImage.Marks.push_back({kind, FLine, FAddress});
        break;
      case TTiTxtLineKind::End:
        FImage.EndLine = FLine;
        FImage.Marks.push_back({kind, FLine, FAddress});
        break;
      case TTiTxtLineKind::Settings:
      case TTiTxtLineKind::Version:
        FImage.Marks.push_back({kind, FLine, FAddress});
        break;
      case TTiTxtLineKind::Data:
        Data(ALine);
        break;
    }
  }

  uint32_t Address(const std::string& ALine, const char* AWhat) const {
    uint32_t value = 0;
    try {
      value = HexToInt(ALine.substr(1));
    } catch (const EConvertError&) {
      Refuse(std::string(AWhat) + " " + Quote(ALine) + " is not a hexadecimal number");
    }
    if (value >= kTiTxtAddressLimit)
      Refuse(std::string(AWhat) + " " + Hex(value) + " is beyond the last address " +
             Hex(kTiTxtAddressLimit - 1));
    return value;
  }

  void Data(const std::string& ALine) {
    if (!ParseDataLine(ALine, FBytes))
      Refuse("data line " + Quote(ALine) + " is not hexadecimal byte pairs separated by blanks: " +
             DataLineProblem(ALine));
    const uint32_t count = static_cast<uint32_t>(FBytes.size());
    if (FAddress + count > kTiTxtAddressLimit)
      Refuse("the data run past the last address " + Hex(kTiTxtAddressLimit - 1));
    if (FImage.Kind == TTiTxtImageKind::Loader)
      CheckLoaderData(count);
    else
      CheckApplicationData(count);
    FSize += count;
    if (FSize > Capacity())
      Refuse("the image holds more data than the board can take (" + std::to_string(Capacity()) +
             " bytes)");
    Store();
    FWritten.Add(FAddress, FAddress + count);
    FAddress += count;
  }

  void CheckLoaderData(uint32_t ACount) const {
    if (FImage.StartLine != 0) Refuse("data after the start line would never reach the board");
    const std::optional<uint32_t> outside = FirstOutside(FAddress, ACount, {kTiTxtRam});
    if (outside)
      Refuse("the loader writes to " + Hex(*outside) + ", outside RAM (" + AreaText(kTiTxtRam) + ")");
  }

  void CheckApplicationData(uint32_t ACount) const {
    const std::optional<uint32_t> outside =
        FirstOutside(FAddress, ACount, {kTiTxtMainFlash, kTiTxtInfoMemory});
    if (outside)
      Refuse("writes to " + Hex(*outside) + ", outside main flash (" + AreaText(kTiTxtMainFlash) +
             ") and information memory (" + AreaText(kTiTxtInfoMemory) + ")");
    const std::optional<uint32_t> twice = FWritten.FirstOverlap(FAddress, FAddress + ACount);
    if (twice) Refuse("writes " + Hex(*twice) + " a second time (first at line " +
                      std::to_string(LineOf(*twice)) + ")");
    for (uint32_t i = 0; i < ACount; ++i) {
      if (Inside(kTiTxtSettingsBlock, FAddress + i) && FBytes[i] != 0xFF)
        Refuse("writes into the settings records at " + Hex(FAddress + i) + " (only FF is allowed at " +
               AreaText(kTiTxtSettingsBlock) + ")");
    }
  }

  static std::optional<uint32_t> FirstOutside(uint32_t AAddress, uint32_t ACount,
                                              std::initializer_list<TTiTxtArea> AAreas) {
    for (const TTiTxtArea& area : AAreas) {
      if (!Inside(area, AAddress)) continue;
      if (AAddress + ACount <= area.End) return std::nullopt;
      return area.End;
    }
    return AAddress;
  }

  uint64_t Capacity() const {
    const auto size = [](const TTiTxtArea& AArea) { return uint64_t{AArea.End - AArea.Start}; };
    if (FImage.Kind == TTiTxtImageKind::Loader) return size(kTiTxtRam);
    return size(kTiTxtMainFlash) + size(kTiTxtInfoMemory);
  }

  int LineOf(uint32_t AAddress) const {
    for (const TTiTxtSection& section : FImage.Sections) {
      const int line = section.LineOf(AAddress);
      if (line != 0) return line;
    }
    return 0;
  }

  void Store() {
    if (!FOpen) {
      FImage.Sections.push_back({FAddress, {}, {}});
      FOpen = true;
    }
    TTiTxtSection& section = FImage.Sections.back();
    section.Lines.push_back({FLine, static_cast<uint32_t>(section.Bytes.size()),
                             static_cast<uint32_t>(FBytes.size())});
    section.Bytes.insert(section.Bytes.end(), FBytes.begin(), FBytes.end());
  }

  // The loader is started at its start line with the data written so far;
  // both the start address and the code 4 bytes on must be among them.
  void CheckLoaderStart() const {
    if (FImage.StartLine == 0)
      Refuse(FImage.EndLine, "the loader has no start line (\"#\")");
    const uint32_t start = FImage.StartAddress;
    constexpr uint32_t kEntryOffset = 4;  // Load PC runs the code 4 bytes past the start line
    if (!FWritten.Contains(start))
      Refuse(FImage.StartLine, "the start address " + Hex(start) + " lies outside the loader's data");
    if (!FWritten.Contains(start + kEntryOffset))
      Refuse(FImage.StartLine, "the loader's code at " + Hex(start + kEntryOffset) +
                                   " (start address + 4) lies outside its data");
  }

  TTiTxtImage FImage;
  int FLine = 0;
  uint32_t FAddress = 0;
  bool FOpen = false;  // data lines go on the last section
  uint64_t FSize = 0;
  std::vector<uint8_t> FBytes;
  TWrittenSet FWritten;
};

// The lines of AFileName, and its bytes as read into AText. A missing,
// unreadable, binary or too large file is refused (line 0).
std::vector<std::string> ReadTiTxtImageLines(const std::string& AFileName, std::string& AText) {
  if (const std::string problem = TiTxtFileProblem(AFileName); !problem.empty())
    throw ETiTxtImageError(AFileName, 0, problem);
  const long long size = TiTxtFileSize(AFileName);
  if (size > static_cast<long long>(kTiTxtMaxFileSize))
    throw ETiTxtImageError(AFileName, 0,
                           "the file is too large for an image (" + std::to_string(size) + " bytes)");
  std::string text;
  try {
    text = ReadTiTxtFile(AFileName);
  } catch (const ETiTxtFileError& e) {
    throw ETiTxtImageError(AFileName, 0, "the file cannot be read: " + e.Reason());
  }
  // TI-TXT is plain text: a zero byte says the file is something else.
  if (const size_t zero = text.find('\0'); zero != std::string::npos)
    throw ETiTxtImageError(AFileName, 0,
                           "the file holds binary data (a zero byte at offset " + std::to_string(zero) +
                               "), not TI-TXT text");
  AText = text;
  return SplitTiTxtLines(text);
}

}  // namespace

int TTiTxtSection::LineOf(uint32_t AAddress) const {
  if (AAddress < Address || AAddress >= End()) return 0;
  const uint32_t offset = AAddress - Address;
  auto after = std::upper_bound(Lines.begin(), Lines.end(), offset,
                                [](uint32_t AOffset, const TTiTxtDataLine& ALine) {
                                  return AOffset < ALine.Offset;
                                });
  return after == Lines.begin() ? 0 : std::prev(after)->Line;
}

size_t TTiTxtImage::DataSize() const {
  size_t size = 0;
  for (const TTiTxtSection& section : Sections) size += section.Bytes.size();
  return size;
}

std::vector<TTiTxtRange> TTiTxtImage::Ranges() const {
  std::vector<TTiTxtRange> ranges;
  for (const TTiTxtSection& section : Sections)
    OverlayRange(ranges, section.Address, section.Bytes.data(), section.Bytes.size());
  return ranges;
}

std::vector<TTiTxtStep> TTiTxtImage::Steps() const {
  std::vector<TTiTxtStep> steps;
  for (size_t i = 0; i < Sections.size(); ++i) {
    const TTiTxtSection& section = Sections[i];
    for (const TTiTxtDataLine& line : section.Lines)
      steps.push_back({TTiTxtLineKind::Data, line.Line, section.Address + line.Offset,
                       section.Bytes.data() + line.Offset, line.Count, static_cast<int>(i)});
  }
  for (const TTiTxtMark& mark : Marks) steps.push_back({mark.Kind, mark.Line, mark.Address, nullptr, 0});
  std::sort(steps.begin(), steps.end(),
            [](const TTiTxtStep& A, const TTiTxtStep& B) { return A.Line < B.Line; });
  return steps;
}

void OverlayRange(std::vector<TTiTxtRange>& ARanges, uint32_t AAddress, const uint8_t* ABytes,
                  size_t ACount) {
  if (ACount == 0) return;
  const uint32_t end = AAddress + static_cast<uint32_t>(ACount);
  // First range that ends at or after AAddress: it touches or follows the new one.
  auto first = std::lower_bound(ARanges.begin(), ARanges.end(), AAddress,
                                [](const TTiTxtRange& ARange, uint32_t AValue) {
                                  return ARange.End() < AValue;
                                });
  auto last = first;
  while (last != ARanges.end() && last->Address <= end) ++last;
  if (first == last) {
    ARanges.insert(first, TTiTxtRange{AAddress, std::vector<uint8_t>(ABytes, ABytes + ACount)});
    return;
  }
  const uint32_t start = std::min(AAddress, first->Address);
  const uint32_t stop = std::max(end, std::prev(last)->End());
  TTiTxtRange joined{start, std::vector<uint8_t>(stop - start)};
  for (auto it = first; it != last; ++it)
    std::copy(it->Bytes.begin(), it->Bytes.end(), joined.Bytes.begin() + (it->Address - start));
  std::copy(ABytes, ABytes + ACount, joined.Bytes.begin() + (AAddress - start));
  *first = std::move(joined);
  ARanges.erase(first + 1, last);
}

ETiTxtImageError::ETiTxtImageError(std::string AFileName, int ALine, std::string AReason)
    : std::runtime_error("\"" + AFileName + "\"" +
                         (ALine > 0 ? ", line " + std::to_string(ALine) : std::string()) + ": " +
                         AReason),
      FFileName(std::move(AFileName)),
      FLine(ALine),
      FReason(std::move(AReason)) {}

TTiTxtImage CheckTiTxtImage(const std::vector<std::string>& ALines, TTiTxtImageKind AKind,
                            const std::string& AFileName) {
  return TImageChecker(AKind, AFileName).Check(ALines);
}

TTiTxtImage ReadTiTxtImage(const std::string& AFileName, TTiTxtImageKind AKind) {
  std::string text;
  TTiTxtImage image = CheckTiTxtImage(ReadTiTxtImageLines(AFileName, text), AKind, AFileName);
  image.Sha256 = Sha256Hex(text);
  return image;
}

std::string ImageRefusalText(const ETiTxtImageError& AError) {
  std::string text = "The image file \"" + AError.FileName() + "\" cannot be used.\n";
  text += AError.Line() > 0 ? "Line " + std::to_string(AError.Line()) + ": " : std::string();
  std::string reason = AError.Reason();
  if (AError.Line() <= 0 && !reason.empty()) reason[0] = static_cast<char>(std::toupper(reason[0]));
  return text + reason + ".\nThe board was not changed.";
}

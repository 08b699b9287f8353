// The board's ID: the die record of its chip (lot/wafer, die X and die Y),
// unique per chip, from the device descriptor table that the MSP430 F5xx
// parts carry beside their information memory. The table is a list of
// tag-length-value entries from 0x1A08 on; the record is found by its tag,
// not at a fixed address. The RAM loader reads it with TX Data Block; the
// resident loader cannot. Plain C++.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bsl_hid.h"

// Entries of the device descriptor table, up to its end (0x1A00 + 2^6
// words of 32 bits, the table length of the F5xx parts).
constexpr uint32_t kDescriptorEntriesStart = 0x1A08;
constexpr uint32_t kDescriptorTableEnd = 0x1B00;
constexpr uint8_t kDieRecordTag = 0x08;
// An entry of erased flash ends the list.
constexpr uint8_t kDescriptorBlankTag = 0xFF;

struct TDieRecord {
  uint32_t LotWafer = 0;
  uint16_t DieX = 0;
  uint16_t DieY = 0;
};

// Reads ACount bytes of the board's memory from AAddress into AOut; false
// when the board gives none.
using TBoardMemoryReader =
    std::function<bool(uint32_t AAddress, uint32_t ACount, std::vector<uint8_t>& AOut)>;

// Walks the table by tag; nothing when it holds no die record, a read
// fails or the record is erased.
std::optional<TDieRecord> FindDieRecord(const TBoardMemoryReader& ARead);

// "LLLLLLLL-XXXX-YYYY": lot/wafer, die X and die Y in upper-case
// hexadecimal, each of fixed width, so IDs sort and compare as text.
std::string BoardIdText(const TDieRecord& ADie);

// The ID of the board behind ABsl, which must run the RAM loader: empty
// when the loader refuses TX Data Block, the board does not answer or its
// table holds no die record. AFailure, when given, tells a board that did
// not answer, or answered what no loader answers (Failed()), from a
// refusal or a table without the record (not Failed()). Sends only TX
// Data Block.
std::string ReadBoardId(TBsl& ABsl, TBslFailure* AFailure = nullptr);

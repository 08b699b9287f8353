// The words of the MSP430 USB bootstrap loader's protocol, said once: the
// report that carries a core packet, the core commands and the loader's
// message codes with the names TI's loader guide gives them, and how an
// answer reads ("3F 02 3B MSG" for a message, "3F NL 3A data" for data;
// anything else is no answer of the loader's: a corrupt report, a wrong
// length). The client and the words of an update's cause use them.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint8_t kBslReportId = 0x3F;  // every report, both ways
constexpr uint8_t kBslAnswerData = 0x3A;
constexpr uint8_t kBslAnswerMessage = 0x3B;

enum TBslCommand : uint8_t {
  kBslRxDataBlock = 0x10,
  kBslRxPassword = 0x11,
  kBslEraseSegment = 0x12,
  kBslToggleInfoA = 0x13,
  kBslMassErase = 0x15,
  kBslCrcCheck = 0x16,
  kBslLoadPC = 0x17,
  kBslTxDataBlock = 0x18,
  kBslTxBslVersion = 0x19,
  kBslTxBufferSize = 0x1A,
  kBslRxDataBlockFast = 0x1B,
};

enum TBslMessage : uint8_t {
  kBslMessageSuccess = 0x00,
  kBslMessageWriteCheckFailed = 0x01,
  kBslMessageFlashFailBit = 0x02,
  kBslMessageVoltageChange = 0x03,
  kBslMessageLocked = 0x04,
  kBslMessagePasswordError = 0x05,
  kBslMessageByteWriteForbidden = 0x06,
  kBslMessageUnknownCommand = 0x07,
  kBslMessageTooLong = 0x08,  // the packet exceeds the loader's buffer
};

// "RX Password", "CRC Check", ...; null for a byte that is no command.
const char* BslCommandName(uint8_t ACommand);
// "password error", "unknown command", ...; null beyond the known codes.
const char* BslMessageName(uint8_t ACode);

struct TBslAnswer {
  enum TKind { None, Message, Data } Kind = None;
  uint8_t Code = 0;            // message code
  std::vector<uint8_t> Bytes;  // data
};

TBslAnswer ParseBslAnswer(const std::vector<uint8_t>& AReport);

#pragma once
// The one settings record, `Configuration`, and its `*.KLV` files.
//
// Every field has the width the files and the serial library expect: bytes keep the low
// 8 bits of what is assigned, shorts the low 16 bits read as signed. That is why 38400
// bits per second live in `BAUDRATE` as -27136 and are written so. A record that was
// never loaded is all 0 and blank; there are no other built-in defaults.

#include <cstdint>
#include <string>

#include "core/toolkit/text.h"

namespace kelvor {

// The faster rates beyond the classic list end at 38400, held in `BAUDRATE` as their low 16
// bits like 38400 and written to files as themselves.
inline constexpr int kFasterBaudRates[] = {57600, 115200, 230400};

// The bit rate a `BAUDRATE` field stands for: its 16 bits read as unsigned (38400 for
// -27136), or one of the faster rates whose low 16 bits it holds.
int bitsPerSecond(std::int16_t baudRate);

struct Configuration {
  // [APP]
  Text<8> NAME;
  std::uint8_t ENABLESENDKEY = 0;
  std::uint8_t ENABLESERVERDDE = 0;
  std::uint8_t SENDORREQUEST = 0;  // 0 = Send, 1 = Request
  // [COMMPORT]
  std::int16_t PORT = 0;  // 0 = COM1
  std::uint8_t AUTO = 0;
  std::int16_t BAUDRATE = 0;  // 38400 is held as -27136; see bitsPerSecond
  std::int16_t PARITY = 0;    // 0 none, 1 odd, 2 even
  std::int16_t DATABITS = 0;
  std::int16_t STOPBITS = 0;
  std::uint8_t USECTS = 0;
  std::uint8_t USEXON = 0;
  std::uint8_t USEDTR = 0;
  std::uint8_t SELECTENDOF = 0;  // 1 end character, 2 byte count, 3 end string
  std::uint8_t ENDOFCHAR = 0;    // 1 CR, 2 CR LF
  std::int32_t NUMBEROFBYTE = 0;
  Text<30> ENDOFSTRING;
  std::uint8_t ENABLECLEAR = 0;
  std::uint8_t LENFILTERENABLE = 0;
  std::int32_t LENFILTERSTART = 0;
  std::int32_t LENFILTEREND = 0;  // labelled "Len": the number of characters kept
  std::uint8_t ENABLECONVERTVALUE = 0;
  std::uint8_t BUFFERMODE = 0;
  // [SOUND]
  std::uint8_t SOUNDENABLE = 0;
  std::uint8_t ENABLEDDESOUND = 0;
  PathText<250> FILESOUNDDDE;
  std::uint8_t ENABLEKEYSOUND = 0;
  PathText<250> FILESOUNDKEY;
  // [KEYBOARD], beyond the 28 keys: a section older readers skip. The pause between two
  // keystrokes in milliseconds, for targets that lose keys typed fast (0: none).
  std::int32_t DELAYMS = 0;

  friend bool operator==(const Configuration&, const Configuration&) = default;
};

// Reads all 28 keys, and [KEYBOARD] DELAYMS, from `path` into `config`. Every key is
// assigned: a missing key, or every key of a missing or unreadable file, sets its field to 0
// or blanks.
void loadConfiguration(Configuration& config, const std::string& path);

// Writes all 28 keys into `path` in the file order, then [KEYBOARD] DELAYMS, keeping every
// other line of an existing file, in one replacement of the file. Returns false when it
// could not be written, with errno saying why.
bool saveConfiguration(const Configuration& config, const std::string& path);

}  // namespace kelvor

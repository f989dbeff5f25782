#pragma once
// The pieces of a WM_DDE message that both ends of a conversation build and take apart: the
// global-memory blocks (data, poke, advise options, execute commands), the acknowledgement
// word, and the text inside a block in the CF_TEXT code page, Windows-1252.
//
// What it promises:
// - A data block is DDEDATA: the flag word, the format word CF_TEXT, the text and one zero
//   byte, allocated moveable, shareable and zero-filled; the release flag is always set, so
//   that the receiver frees it.
// - Text crosses the boundary as Windows-1252: UTF-8 inside Kelvor becomes Windows-1252 on
//   the way out (a character outside it becomes "?"), bytes that are not UTF-8 are taken to
//   be Windows-1252 already; on the way in, Windows-1252 (or UTF-16 between two Unicode
//   windows) becomes UTF-8.
// - Reading a block never reads past the memory the block has, whatever its header claims.

#include <windows.h>
#include <dde.h>

#include <optional>
#include <string>
#include <string_view>

namespace kelvor::win {

// The status word of WM_DDE_ACK.
constexpr WORD kAckPositive = 0x8000;
constexpr WORD kAckNegative = 0x0000;
constexpr WORD kAckBusy = 0x4000;

// Text from inside Kelvor (UTF-8, or bytes of the line) as CF_TEXT bytes, without a zero.
std::string toCfText(std::string_view bytes);
// Windows-1252 bytes as UTF-8.
std::string fromCfText(std::string_view bytes);

// A DDEDATA block holding `text` (already CF_TEXT bytes) with the given flags; NULL when
// memory runs out.
HGLOBAL makeDataBlock(std::string_view text, bool response, bool ackRequested);
// A DDEPOKE block, the client's side of a poke.
HGLOBAL makePokeBlock(std::string_view text);
// A DDEADVISE block.
HGLOBAL makeAdviseBlock(bool deferUpdate, bool ackRequested);

struct DataBlock {
  bool response = false;
  bool release = false;
  bool ackRequested = false;
  short format = 0;
  std::string text;  // up to the first zero byte, as it stands in the block
};
// The contents of a DDEDATA or DDEPOKE block (they share the layout that matters here).
std::optional<DataBlock> readDataBlock(HGLOBAL block);

struct AdviseOptions {
  bool deferUpdate = false;
  bool ackRequested = false;
  short format = 0;
};
std::optional<AdviseOptions> readAdviseBlock(HGLOBAL block);

// An execute block as a command string: UTF-16 when both windows are Unicode, CF_TEXT
// otherwise. `unicode` picks the reading; the result is UTF-8.
HGLOBAL makeExecuteBlock(std::string_view utf8Command, bool unicode);
std::string readExecuteBlock(HGLOBAL block, bool unicode);

// The name of a global atom, as UTF-8; empty for the null atom.
std::string atomName(ATOM atom);

}  // namespace kelvor::win

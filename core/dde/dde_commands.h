#pragma once
// The execute-command interpreter: how a client's command string is read and matched.
//
// A command arrives as UTF-8 and is handled as Windows-1252 text (a character outside it
// becomes "?"), cut to 127 characters, upper-cased (a to z only) and held in a 250-character
// blank-padded field whose trailing blanks carry no meaning. The exact commands are tried
// first; a string that matches none of them is tried against the prefixed commands, whose
// argument runs from after the prefix up to, not including, the last two characters (normally
// ")]"), or is all blanks when that length would be negative.
//
// A string may also hold several bracketed commands one after the other ("[CLEARBUF][RUN]",
// what VBA's DDEExecute and spreadsheet macros send): each is matched as if sent alone, and a
// prefixed command's argument ends at its own ")]". A string that is not such a sequence is
// one command, matched as above.

#include <string>
#include <string_view>
#include <vector>

#include "core/toolkit/text.h"

namespace kelvor::dde {

enum class Command {
  None,
  AppClose,
  AppTop,
  AppHide,
  Run,
  Opto,
  Stop,
  Request,
  WaitRs,
  ClearBuf,
  SendW,
  Send,
  Wait,
  Load,
  Message,
};

struct MatchedCommand {
  Command command = Command::None;
  std::string argument;  // Windows-1252, blank-padded as cut from the field
};

// The command field of a client's UTF-8 string.
Text<250> commandText(std::string_view utf8);

MatchedCommand matchCommand(const Text<250>& text);

// The commands of a command field, in order: those of a sequence of bracketed commands, or
// the one command the field holds.
std::vector<MatchedCommand> matchCommands(const Text<250>& text);

// Decimal number reading for [WAIT(: blanks, an optional sign, digits with an optional
// decimal point ("1.5"); reading stops at the first other character; no digits give 0.
double readDecimal(std::string_view text);

// Windows-1252 bytes as UTF-8, for file names and the message window.
std::string windows1252ToUtf8(std::string_view bytes);

// The file a [LOAD( name stands for: relative to `directory` unless absolute, "\" read as
// "/", and every part of the path matched without regard to case: the name as stored, an
// exact match first, else the first match in directory order. Parts that match nothing are
// kept as written.
std::string findPathIgnoringCase(const std::string& directory, const std::string& name);

}  // namespace kelvor::dde

// The execute-command interpreter on any string a client on the session bus may send: the
// command field is always 250 characters holding at most 127 of the command, upper-cased;
// an argument never outgrows the field; the argument's readings ([WAIT( number, [LOAD(
// file name, [MESSAGE( text as UTF-8) hold for any bytes.

#include <cmath>
#include <cstdint>
#include <string>

#include "core/dde/dde_commands.h"
#include "fuzz/fuzz_support.h"
#include "core/toolkit/encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view utf8(reinterpret_cast<const char*>(data), size);
  const kelvor::Text<250> text = kelvor::dde::commandText(utf8);
  FUZZ_CHECK(text.padded().size() == 250, "a command field of %zu characters", text.padded().size());
  FUZZ_CHECK(text.trimmed().size() <= 127, "a command of %zu characters", text.trimmed().size());
  for (char c : text.padded()) FUZZ_CHECK(!(c >= 'a' && c <= 'z'), "a lower-case letter in %s", text.trimmed().c_str());

  const auto matched = kelvor::dde::matchCommand(text);
  FUZZ_CHECK(matched.argument.size() <= 250, "an argument of %zu characters", matched.argument.size());
  FUZZ_CHECK(matched.command != kelvor::dde::Command::None || matched.argument.empty(),
             "an argument without a command");

  const std::string shown = kelvor::dde::windows1252ToUtf8(matched.argument);
  FUZZ_CHECK(kelvor::isValidUtf8(shown), "the argument as UTF-8 is not UTF-8");
  const double seconds = kelvor::dde::readDecimal(matched.argument);
  FUZZ_CHECK(!std::isnan(seconds), "a [WAIT( argument read as NaN");
  if (matched.command == kelvor::dde::Command::Load) {
    const std::string& folder = kelvor::fuzz::scratch().path();
    const std::string file = kelvor::dde::findPathIgnoringCase(folder, shown);
    FUZZ_CHECK(!file.empty(), "[LOAD( resolved to no path");
  }
  return 0;
}

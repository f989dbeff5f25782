// Language files (*.LAN) from anywhere, in any encoding. The input is "section|key" on its
// first line, then the file. A lookup always gives text a window can show: valid UTF-8,
// never empty, at most what the 600-byte value limit allows. Keys are the program's own
// ASCII names, so the key tried keeps only its ASCII characters.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "core/i18n/translate.h"
#include "core/toolkit/encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = kelvor::fuzz::splitHeader(std::string_view(reinterpret_cast<const char*>(data), size));
  kelvor::Language language;
  language.languageFilePath = kelvor::fuzz::scratch().file("fuzz.lan");
  language.languageSection = input.fields[0];
  kelvor::fuzz::writeFile(language.languageFilePath, input.body);

  std::string key = input.fields[1];
  std::erase_if(key, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  const std::string text = kelvor::translate(language, key);
  FUZZ_CHECK(!text.empty(), "an empty text");
  FUZZ_CHECK(kelvor::isValidUtf8(text), "not valid UTF-8: %s", text.c_str());
  // A Windows-1252 byte becomes at most three UTF-8 bytes; a missing key shows bracketed.
  FUZZ_CHECK(text.size() <= 3 * 600 || text.front() == '[', "%zu bytes", text.size());
  return 0;
}

// Configuration files (*.KLV) as anyone may have edited them. The input is the file. Each
// run loads it, saves the record over it (keeping every other line), and loads it again:
// the record must come back the same, and the same again from a fresh file. (A CR inside a
// value is saved as a blank, since other readers take it for a line break; the record is
// compared with that in mind.)

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/settings/configuration.h"
#include "fuzz/fuzz_support.h"

namespace {

// The fields a difference shows up in, for the report.
std::string describe(const kelvor::Configuration& c) {
  return "NAME \"" + c.NAME.padded() + "\" ENDOFSTRING \"" + c.ENDOFSTRING.padded() + "\" FILESOUNDDDE \"" +
         c.FILESOUNDDDE.trimmed() + "\" FILESOUNDKEY \"" + c.FILESOUNDKEY.trimmed() + "\" NUMBEROFBYTE " +
         std::to_string(c.NUMBEROFBYTE) + " BAUDRATE " + std::to_string(c.BAUDRATE);
}

// The record as a save stores it: a CR inside a text becomes a blank.
kelvor::Configuration asSaved(kelvor::Configuration c) {
  auto blankCr = [](auto& text) {
    std::string value = text.padded();
    std::replace(value.begin(), value.end(), '\r', ' ');
    text = value;
  };
  blankCr(c.NAME);
  blankCr(c.ENDOFSTRING);
  blankCr(c.FILESOUNDDDE);
  blankCr(c.FILESOUNDKEY);
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = kelvor::fuzz::scratch().file("fuzz.klv");
  const std::string fresh = kelvor::fuzz::scratch().file("fresh.klv");
  kelvor::fuzz::writeFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  std::remove(fresh.c_str());

  kelvor::Configuration read;
  kelvor::loadConfiguration(read, path);
  const kelvor::Configuration loaded = asSaved(read);
  FUZZ_CHECK(kelvor::saveConfiguration(read, path), "saving over the file failed");
  FUZZ_CHECK(kelvor::saveConfiguration(read, fresh), "saving a new file failed");

  kelvor::Configuration again;
  kelvor::loadConfiguration(again, path);
  FUZZ_CHECK(again == loaded, "saved over the file, loaded back another record:\n  %s\n  %s", describe(loaded).c_str(),
             describe(again).c_str());
  kelvor::Configuration fromFresh;
  kelvor::loadConfiguration(fromFresh, fresh);
  FUZZ_CHECK(fromFresh == loaded, "saved to a new file, loaded back another record:\n  %s\n  %s",
             describe(loaded).c_str(), describe(fromFresh).c_str());
  return 0;
}

#include "core/settings/configuration.h"

#include <functional>
#include <string_view>
#include <vector>

#include "core/settings/profile_file.h"

namespace kelvor {
namespace {

// One key of the file: where it lives and how it reads and writes its field. The table
// below lists the 28 keys in the order they are written, then the keys of Kelvor's own
// sections.
struct Key {
  const char* section;
  const char* name;
  std::function<void(Configuration&, std::string_view)> load;
  std::function<std::string(const Configuration&)> save;
};

template <typename Field>
Key number(const char* section, const char* name, Field Configuration::*field) {
  return {section, name,
          [field](Configuration& c, std::string_view v) { c.*field = keepWidth<Field>(readNumber(v)); },
          [field](const Configuration& c) { return writeNumber(c.*field); }};
}

template <typename Field>
Key text(const char* section, const char* name, Field Configuration::*field) {
  return {section, name, [field](Configuration& c, std::string_view v) { (c.*field).assign(v); },
          [field](const Configuration& c) { return (c.*field).padded(); }};
}

// BAUDRATE: the classic rates as the field holds them (38400 as -27136), the faster ones as
// themselves, so that a file says 115200 rather than a 16-bit pattern.
Key baudRate() {
  return {"COMMPORT", "BAUDRATE",
          [](Configuration& c, std::string_view v) { c.BAUDRATE = keepWidth<std::int16_t>(readNumber(v)); },
          [](const Configuration& c) {
            const int rate = bitsPerSecond(c.BAUDRATE);
            return writeNumber(rate > 38400 ? rate : c.BAUDRATE);
          }};
}

const std::vector<Key>& keys() {
  using C = Configuration;
  static const std::vector<Key> table = {
      text("APP", "NAME", &C::NAME),
      number("APP", "ENABLESENDKEY", &C::ENABLESENDKEY),
      number("APP", "ENABLESERVERDDE", &C::ENABLESERVERDDE),
      number("APP", "SENDORREQUEST", &C::SENDORREQUEST),
      number("COMMPORT", "PORT", &C::PORT),
      number("COMMPORT", "AUTO", &C::AUTO),
      baudRate(),
      number("COMMPORT", "PARITY", &C::PARITY),
      number("COMMPORT", "DATABITS", &C::DATABITS),
      number("COMMPORT", "STOPBITS", &C::STOPBITS),
      number("COMMPORT", "USECTS", &C::USECTS),
      number("COMMPORT", "USEXON", &C::USEXON),
      number("COMMPORT", "USEDTR", &C::USEDTR),
      number("COMMPORT", "SELECTENDOF", &C::SELECTENDOF),
      number("COMMPORT", "ENDOFCHAR", &C::ENDOFCHAR),
      number("COMMPORT", "NUMBEROFBYTE", &C::NUMBEROFBYTE),
      text("COMMPORT", "ENDOFSTRING", &C::ENDOFSTRING),
      number("COMMPORT", "ENABLECLEAR", &C::ENABLECLEAR),
      number("COMMPORT", "LENFILTERENABLE", &C::LENFILTERENABLE),
      number("COMMPORT", "LENFILTERSTART", &C::LENFILTERSTART),
      number("COMMPORT", "LENFILTEREND", &C::LENFILTEREND),
      number("COMMPORT", "ENABLECONVERTVALUE", &C::ENABLECONVERTVALUE),
      number("COMMPORT", "BUFFERMODE", &C::BUFFERMODE),
      number("SOUND", "SOUNDENABLE", &C::SOUNDENABLE),
      number("SOUND", "ENABLEDDESOUND", &C::ENABLEDDESOUND),
      text("SOUND", "FILESOUNDDDE", &C::FILESOUNDDDE),
      number("SOUND", "ENABLEKEYSOUND", &C::ENABLEKEYSOUND),
      text("SOUND", "FILESOUNDKEY", &C::FILESOUNDKEY),
      number("KEYBOARD", "DELAYMS", &C::DELAYMS),
  };
  return table;
}

}  // namespace

int bitsPerSecond(std::int16_t baudRate) {
  const int pattern = static_cast<std::uint16_t>(baudRate);
  for (const int rate : kFasterBaudRates) {
    if ((rate & 0xFFFF) == pattern) return rate;
  }
  return pattern;
}

void loadConfiguration(Configuration& config, const std::string& path) {
  std::vector<ProfileKey> names;
  for (const Key& key : keys()) names.push_back({key.section, key.name});
  const std::vector<std::string> values = readProfileStrings(path, names);
  // Text fields cut to their width and numbers read only their leading digits, so a long
  // value needs no cut of its own; paths are kept whole.
  for (std::size_t i = 0; i < keys().size(); ++i) keys()[i].load(config, values[i]);
}

bool saveConfiguration(const Configuration& config, const std::string& path) {
  // Every key in one replacement of the file: a crash leaves the old file or the new one.
  std::vector<std::string> texts;
  for (const Key& key : keys()) texts.push_back(key.save(config));
  std::vector<ProfileValue> values;
  for (std::size_t i = 0; i < keys().size(); ++i) values.push_back({keys()[i].section, keys()[i].name, texts[i]});
  return writeProfileStrings(path, values);
}

}  // namespace kelvor

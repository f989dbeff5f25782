#include "core/dde/dde_commands.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>
#include <utility>

#include "core/system/system.h"
#include "core/toolkit/encoding.h"

namespace kelvor::dde {
namespace {

constexpr std::size_t kCommandLength = 127;

struct Prefixed {
  const char* prefix;
  Command command;
};

constexpr std::array<std::pair<const char*, Command>, 9> kExact = {{
    {"[APPCLOSE]", Command::AppClose},
    {"[APPTOP]", Command::AppTop},
    {"[APPHIDE]", Command::AppHide},
    {"[RUN]", Command::Run},
    {"[OPTO?]", Command::Opto},
    {"[STOP]", Command::Stop},
    {"[REQUEST]", Command::Request},
    {"[WAITRS]", Command::WaitRs},
    {"[CLEARBUF]", Command::ClearBuf},
}};

constexpr std::array<Prefixed, 5> kPrefixed = {{
    {"[SEND_W(", Command::SendW},
    {"[SEND(", Command::Send},
    {"[WAIT(", Command::Wait},
    {"[LOAD(", Command::Load},
    {"[MESSAGE(", Command::Message},
}};

// The first `count` UTF-8 characters of `s` (a huge string is never converted whole).
std::string_view firstCharacters(std::string_view s, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; i < s.size() && n < count; ++n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return s.substr(0, i);
}

}  // namespace

Text<250> commandText(std::string_view utf8) {
  std::string bytes = toWindows1252(firstCharacters(utf8, kCommandLength));
  if (bytes.size() > kCommandLength) bytes.resize(kCommandLength);
  return Text<250>(upperAscii(bytes));
}

MatchedCommand matchCommand(const Text<250>& text) {
  const std::string trimmed = text.trimmed();
  for (const auto& [name, command] : kExact) {
    if (trimmed == name) return {command, {}};
  }
  for (const auto& p : kPrefixed) {
    const std::string_view prefix(p.prefix);
    if (substring(text.padded(), 1, static_cast<long long>(prefix.size())) != prefix) continue;
    const long long length =
        static_cast<long long>(trimmed.size()) - static_cast<long long>(prefix.size()) - 2;
    // A negative length takes everything after the prefix: the blanks of the field.
    return {p.command, substring(text.padded(), static_cast<long long>(prefix.size()) + 1, length)};
  }
  return {};
}

namespace {

// Where the bracketed command that starts at `at` ends (one past its "]"), or npos when none
// starts there. A prefixed command runs to its own ")]", any other to its first "]".
std::size_t bracketedEnd(std::string_view text, std::size_t at) {
  if (at >= text.size() || text[at] != '[') return std::string_view::npos;
  for (const auto& p : kPrefixed) {
    const std::string_view prefix(p.prefix);
    if (text.substr(at, prefix.size()) != prefix) continue;
    const std::size_t close = text.find(")]", at + prefix.size());
    return close == std::string_view::npos ? close : close + 2;
  }
  const std::size_t close = text.find(']', at + 1);
  return close == std::string_view::npos ? close : close + 1;
}

}  // namespace

std::vector<MatchedCommand> matchCommands(const Text<250>& text) {
  const std::string trimmed = text.trimmed();
  std::vector<std::string_view> parts;
  for (std::size_t at = 0; at < trimmed.size();) {
    const std::size_t end = bracketedEnd(trimmed, at);
    if (end == std::string_view::npos) {
      parts.clear();
      break;
    }
    parts.push_back(std::string_view(trimmed).substr(at, end - at));
    at = end;
  }
  // One command (or no sequence at all) keeps the single command's own rules, the argument
  // that runs to the last two characters included.
  if (parts.size() < 2) return {matchCommand(text)};
  std::vector<MatchedCommand> commands;
  for (std::string_view part : parts) commands.push_back(matchCommand(Text<250>(part)));
  return commands;
}

double readDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  double value = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, digits = true) {
    value = value * 10 + (text[i] - '0');
  }
  if (i < text.size() && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10, digits = true) {
      value += (text[i] - '0') * scale;
    }
  }
  if (!digits) return 0;
  return negative ? -value : value;
}

std::string windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    // A single byte from 0x80 up is never valid UTF-8, so displayText reads it as Windows-1252.
    if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
    } else {
      out += displayText(std::string(1, c));
    }
  }
  return out;
}

namespace {

// Paths are UTF-8 inside Kelvor, whatever the system's own code page is.
std::filesystem::path utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace

std::string findPathIgnoringCase(const std::string& directory, const std::string& name) {
  namespace fs = std::filesystem;
  std::string relative = name;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  // An absolute name starts from its root: "/" here; on Windows also a drive ("C:") or a
  // server's share ("//server").
  std::string resolved = directory;
  std::size_t pos = 0;
  if (isAbsolutePath(relative)) {
    if (relative.starts_with("//")) {
      resolved.assign(1, '/');
      pos = 2;
    } else if (relative.front() == '/') {
      resolved.clear();
      pos = 1;
    } else {
      const std::size_t rootEnd = std::min(relative.find('/'), relative.size());
      resolved = relative.substr(0, rootEnd);
      pos = rootEnd + 1;
    }
  }
  bool lost = false;  // once a part matches nothing, the rest cannot be looked up
  while (pos <= relative.size()) {
    std::size_t slash = relative.find('/', pos);
    if (slash == std::string::npos) slash = relative.size();
    const std::string part = relative.substr(pos, slash - pos);
    pos = slash + 1;
    if (part.empty() && slash < relative.size()) continue;  // doubled "/"
    std::string chosen = part;
    if (!lost && !part.empty() && part != "." && part != "..") {
      // The name as it is stored wins, also where the system itself matches names without
      // regard to case (Windows): an exact match first, else the first that differs in case.
      const std::string wanted = upperAscii(part);
      std::string caseless;
      bool exact = false;
      std::error_code error;
      for (fs::directory_iterator it(utf8Path(resolved + "/"), error), end; !error && it != end; it.increment(error)) {
        const std::string candidate = utf8Name(it->path().filename());
        if (candidate == part) {
          exact = true;
          break;
        }
        if (caseless.empty() && upperAscii(candidate) == wanted) caseless = candidate;
      }
      if (!exact && !caseless.empty()) {
        chosen = caseless;
      } else if (!exact) {
        lost = !fs::exists(utf8Path(resolved + "/" + part), error);
      }
    }
    resolved += "/" + chosen;
  }
  return resolved;
}

}  // namespace kelvor::dde

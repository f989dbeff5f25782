#pragma once
// The command line of kelvor-dde, the same on every desk: its commands, options, help and exit
// codes. Each desk's tool reaches the server its own way (D-Bus, DDEML) and says so in its help.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor::dde {

inline constexpr int kClientPositive = 0;
inline constexpr int kClientNegative = 1;  // a negative answer, or no server
inline constexpr int kClientUsage = 2;
inline constexpr int kClientTimeout = 3;

struct ClientOptions {
  std::string service = "Kelvor";
  std::string topic = "System";
  int timeoutMs = 10000;
  std::vector<std::string> words;  // the command and its arguments
};

// What the help says that differs between desks.
struct ClientHelp {
  std::string_view name;         // after "kelvor-dde - send DDE messages to Kelvor"
  std::string_view description;  // how the conversation is held, indented as it is shown
  std::string_view adviseEnd;    // how an advise ends when the server goes
};

std::string clientHelpText(const ClientHelp& help);

// Parses the words after the program's name (UTF-8). Returns the exit code when the program
// ends at once: the help or the version printed, or a usage error explained on stderr.
// Options may stand anywhere; a word that begins with "-" but belongs to the command (a poked
// "-5") follows "--".
std::optional<int> parseClientCommandLine(const std::vector<std::string>& args, const ClientHelp& help,
                                          std::string_view version, ClientOptions& options);

}  // namespace kelvor::dde

#include "core/dde/client_command_line.h"

#include <charconv>
#include <cstdio>

namespace kelvor::dde {
namespace {

int usage(const std::string& why) {
  std::fprintf(stderr,
               "kelvor-dde: %s (usage: kelvor-dde [OPTIONS] request|advise|execute|poke ...; see kelvor-dde --help)\n",
               why.c_str());
  return kClientUsage;
}

// A service name must make a valid bus name element after "dde." on Linux; Windows takes the
// same names, so that a script runs on both.
bool validService(std::string_view name) {
  if (name.empty() || name.size() > 200 || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && c != '_' && c != '-') return false;
  }
  return true;
}

}  // namespace

std::string clientHelpText(const ClientHelp& help) {
  std::string text = "NAME\n    kelvor-dde - send DDE messages to Kelvor";
  text += help.name;
  text += R"(

SYNOPSIS
    kelvor-dde [OPTIONS] request [ITEM]
    kelvor-dde [OPTIONS] advise [ITEM]
    kelvor-dde [OPTIONS] execute COMMAND
    kelvor-dde [OPTIONS] poke ITEM TEXT
    kelvor-dde --help | --version

DESCRIPTION
)";
  text += help.description;
  text += R"(

COMMANDS
    request [ITEM]
        Asks for the value of ITEM (default ManualData) and prints it. After the command
        [WAITRS] the answer comes with the next frame, or after about 5 seconds.
    advise [ITEM]
        Hot-links ITEM (default AutoData): prints each value the server sends on its own
        line, until interrupted (Ctrl-C, exit 0) or until the server )";
  text += help.adviseEnd;
  text += R"(
        (exit 1). Kelvor sends AutoData at most once a second, and only when it changed;
        the item Readings sends every reading, once each, in order.
    execute COMMAND
        Sends an execute command, for example "[RUN]", "[SEND(abc)]" or "[WAIT(1.5)]".
    poke ITEM TEXT
        Sends TEXT as the data of ITEM; Kelvor acknowledges and ignores it.

OPTIONS
    --service NAME   the DDE service name (default Kelvor)
    --topic NAME     the topic (default System)
    --timeout SECONDS
                     how long to wait for each answer (default 10)
    -h, --help       print this text and exit
    -v, --version    print the version and exit
    --               the words after it belong to the command, even one that begins
                     with "-" (kelvor-dde poke Value -- -5)

EXIT STATUS
    0   positive answer
    1   negative answer, or no server
    2   usage error
    3   no answer within the time-out

EXAMPLES
    kelvor-dde request
    kelvor-dde execute "[WAITRS]" && kelvor-dde request
    kelvor-dde advise AutoData
)";
  return text;
}

std::optional<int> parseClientCommandLine(const std::vector<std::string>& args, const ClientHelp& help,
                                          std::string_view version, ClientOptions& options) {
  bool wordsOnly = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (wordsOnly || arg.size() < 2 || arg[0] != '-') {
      options.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      wordsOnly = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(clientHelpText(help).c_str(), stdout);
      return kClientPositive;
    }
    if (arg == "-v" || arg == "--version") {
      std::printf("kelvor-dde %.*s\n", static_cast<int>(version.size()), version.data());
      return kClientPositive;
    }
    // "--name value" or "--name=value".
    std::string name = arg, value;
    bool hasValue = false;
    if (const auto eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    if (name != "--service" && name != "--topic" && name != "--timeout") {
      return usage("unknown option '" + arg.substr(arg.find_first_not_of('-')) + "'");
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) return usage("missing value after '" + name + "'");
      value = args[++i];
    }
    if (name == "--service") {
      if (!validService(value)) {
        return usage("the service name may hold only letters, digits, '_' and '-', and not start with a digit");
      }
      options.service = value;
    } else if (name == "--topic") {
      options.topic = value;
    } else {
      // Whatever the locale: "1.5" is a second and a half everywhere.
      double seconds = 0;
      const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (failure != std::errc() || end != value.data() + value.size() || !(seconds > 0) || seconds > 2000000) {
        return usage("--timeout needs a positive number of SECONDS");
      }
      options.timeoutMs = static_cast<int>(seconds * 1000 + 0.5);
      if (options.timeoutMs < 1) options.timeoutMs = 1;
    }
  }
  if (options.words.empty()) return usage("a command is needed: request, advise, execute or poke");
  const std::string& command = options.words[0];
  const auto count = options.words.size();
  if (command == "request" || command == "advise") {
    if (count > 2) return usage(command + " takes at most one ITEM");
  } else if (command == "execute") {
    if (count != 2) return usage("execute takes one COMMAND");
  } else if (command == "poke") {
    if (count != 3) return usage("poke takes an ITEM and a TEXT");
  } else {
    return usage("unknown command " + command);
  }
  return std::nullopt;
}

}  // namespace kelvor::dde

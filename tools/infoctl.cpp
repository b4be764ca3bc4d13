// infoctl: the command-line tool with which users and scripts drive the information service.
// Its interface is relied on by scripts and must not change:
//
//   infoctl [-A ADDRESS | -i FILE] COMMAND [ARGUMENT]...
//     get [--json] NAME...                   each value and a newline, in order
//     set [-v] NAME VALUE [NAME VALUE]...    storage type 0, or 1 with -v
//     unset [-v] NAME...
//     get-to-file NAME FILE                  the daemon writes FILE
//     set-from-file [-v] NAME FILE           the daemon reads FILE
//     watch [-n] [--json] EXPR...            "changed NAME" / "removed NAME" per notification
//     dump [--json] [EXPR]                   NAME=VALUE per visible object, sorted by name
//
// --json prints one JSON object instead: {"NAME":"VALUE",...} for get and dump, and for watch
// one object per notification and line, {"event":"changed","name":"NAME"}. The escaping of
// bytes that are not UTF-8 is described in client/JsonText.h.
//
// Finding the daemon: -A ADDRESS; else -i FILE (what infoservice -i wrote); else
// $INFOSERVICE_ADDRESS; else "InformationService" looked up at $NAMESERVICE_ADDRESS.
//
// Exit status: 0 success; 1 the daemon refused the request ("infoctl: error CODE: TEXT" on
// standard error; for get, "infoctl: NAME: error CODE: TEXT" per name that failed, after the
// values that could be read); 2 a usage error ("infoctl: WHAT; try 'infoctl -h'"), or the
// daemon could not be reached.
//
// File names handed to the daemon are made absolute first: the daemon opens them itself, from
// its own working directory.
//
// Everything goes through the client library (client/TInfoClient.h); watch and dump use its
// subscriptions, whose callbacks run on the library's thread while this one waits.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/TException.h"
#include "client/DaemonAddress.h"
#include "client/JsonText.h"
#include "client/TInfoClient.h"

using infoservice::TInfoClient;
using infoservice::TInfoError;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: infoctl [-A ADDRESS | -i FILE] COMMAND [ARGUMENT]...\n"
    "       infoctl -h\n"
    "Commands:\n"
    "  get [--json] NAME...                 print each value on a line of its own\n"
    "  set [-v] NAME VALUE [NAME VALUE]...  set objects (permanent; -v: volatile)\n"
    "  unset [-v] NAME...                   remove objects (permanent; -v: volatile)\n"
    "  get-to-file NAME FILE                write a value into FILE, which must exist\n"
    "  set-from-file [-v] NAME FILE         set an object from the contents of FILE\n"
    "  watch [-n] [--json] EXPR...          print 'changed NAME' or 'removed NAME' per\n"
    "                                       notification until SIGINT or SIGTERM;\n"
    "                                       -n: no enumeration of the present objects\n"
    "  dump [--json] [EXPR]                 print NAME=VALUE for every visible object that\n"
    "                                       matches EXPR (default *), sorted by name;\n"
    "                                       backslash and newline are written as \\\\ and \\n\n"
    "--json: one JSON object instead, {\"NAME\":\"VALUE\",...}; for watch one per line,\n"
    "  {\"event\":\"changed\",\"name\":\"NAME\"}. Bytes that are not UTF-8 are written as\n"
    "  \\udcXX (XX: the byte in hex), as Python's \"surrogateescape\" reads them.\n"
    "Expressions: a name, or a prefix ending in '.*' (cfg.locale.*), or '*' alone.\n"
    "Daemon address: -A ADDRESS, else -i FILE (the file infoservice -i writes), else\n"
    "  $INFOSERVICE_ADDRESS, else \"InformationService\" looked up at $NAMESERVICE_ADDRESS.\n"
    "Exit status: 0 success, 1 request refused by the daemon, 2 usage error or daemon\n"
    "  unreachable.\n";

// A command line the tool cannot make sense of: exit 2 with the usage hint.
class TUsageError final : public TException {
 public:
  using TException::TException;
};

struct TCommandLine {
  std::string address;
  std::string addressFile;
  bool help = false;
  std::string command;
  std::vector<std::string> arguments;
};

// A common slip: the file the daemon writes given to -A, which takes the address itself.
void CheckNotAFile(const std::string& address) {
  struct stat file;
  if (address.compare(0, 4, "ipc:") != 0 && stat(address.c_str(), &file) == 0 &&
      S_ISREG(file.st_mode)) {
    throw TUsageError("-A takes an address; '" + address + "' is a file: use -i " + address);
  }
}

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine line;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const std::string option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option == "-h") {
      line.help = true;
    } else if (option == "-A" || option == "-i") {
      if (i + 1 >= argc) throw TUsageError("option " + option + " needs an argument");
      (option == "-A" ? line.address : line.addressFile) = argv[++i];
      if (option == "-A") CheckNotAFile(line.address);
    } else {
      throw TUsageError("unknown option '" + option + "'");
    }
  }
  if (line.help) return line;
  if (i >= argc) throw TUsageError("no command given");
  line.command = argv[i++];
  line.arguments.assign(argv + i, argv + argc);
  return line;
}

// Takes the flags off the front of the arguments and returns those found; each of `allowed`
// may be given once. "--" ends the flags, so that a name or value that starts with '-' can
// follow it.
std::set<std::string> TakeFlags(std::vector<std::string>& arguments,
                                const std::set<std::string>& allowed) {
  std::set<std::string> found;
  while (!arguments.empty() && arguments.front().size() > 1 && arguments.front()[0] == '-') {
    if (arguments.front() == "--") {
      arguments.erase(arguments.begin());
      break;
    }
    if (arguments.front() == "-i" || arguments.front() == "-A") {
      throw TUsageError("'" + arguments.front() + "' goes before the command: infoctl " +
                        arguments.front() + " ... COMMAND");
    }
    if (allowed.count(arguments.front()) == 0 || !found.insert(arguments.front()).second) {
      throw TUsageError("unknown option '" + arguments.front() + "'");
    }
    arguments.erase(arguments.begin());
  }
  return found;
}

std::string Absolute(const std::string& fileName) {
  if (fileName.empty() || fileName[0] == '/') return fileName;
  char directory[4096];
  if (getcwd(directory, sizeof directory) == nullptr) {
    throw TUsageError(ErrnoMessage("cannot resolve '" + fileName + "'", errno));
  }
  return std::string(directory) + "/" + fileName;
}

std::string Escaped(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

// The service reads an expression as a pattern only when it is "*" or ends in ".*"; any other
// '*' is an ordinary byte of a name, so "var.demo*" would silently match nothing.
void WarnAboutPlainNames(const std::vector<std::string>& expressions) {
  for (const std::string& expression : expressions) {
    const bool pattern =
        expression == "*" ||
        (expression.size() >= 2 && expression.compare(expression.size() - 2, 2, ".*") == 0);
    if (!pattern && expression.find('*') != std::string::npos) {
      fprintf(stderr,
              "infoctl: warning: '%s' is read as a plain name; a pattern is '*' or ends in "
              "'.*'\n",
              expression.c_str());
    }
  }
}

// Refusals by the service, as against failures to reach it.
bool IsRefusal(const TInfoError& error) {
  return error.GetCode() != TInfoError::kUnreachable &&
         error.GetCode() != TInfoError::kInvalidArgument;
}

void WriteLine(const std::string& text) {
  std::string line = text + '\n';
  fwrite(line.data(), 1, line.size(), stdout);
}

void ExpectCount(const std::vector<std::string>& arguments, size_t minimum, size_t maximum) {
  if (arguments.size() < minimum) throw TUsageError("missing arguments");
  if (arguments.size() > maximum) throw TUsageError("too many arguments");
}

TInfoClient::TStorage Storage(const std::set<std::string>& flags) {
  return flags.count("-v") != 0 ? TInfoClient::eVolatile : TInfoClient::ePermanent;
}

using TAction = std::function<int(TInfoClient&)>;

// --- watch and dump ------------------------------------------------------------------------

// watch: prints every notification until SIGINT or SIGTERM, or until standard output is
// closed (watch | head -1). The signals are taken with sigwait on this thread; the library's
// thread blocks them, and raises SIGTERM itself when printing fails.
TAction Watch(std::vector<std::string> arguments) {
  const std::set<std::string> flags = TakeFlags(arguments, {"-n", "--json"});
  const bool enumerate = flags.count("-n") == 0;
  const bool json = flags.count("--json") != 0;
  ExpectCount(arguments, 1, SIZE_MAX);
  WarnAboutPlainNames(arguments);
  return [=](TInfoClient& client) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    const auto print = [json](TInfoClient::TEvent event, const std::string& name) {
      const char* what = event == TInfoClient::eChanged ? "changed" : "removed";
      WriteLine(json ? std::string("{\"event\":\"") + what + "\",\"name\":" + JsonString(name) + "}"
                     : what + (" " + name));
      if (fflush(stdout) != 0) kill(getpid(), SIGTERM);
    };
    const int id = enumerate ? client.Watch(arguments, print) : client.Subscribe(arguments, print);
    int signal = 0;
    sigwait(&stop, &signal);
    client.Unsubscribe(id);
    return kExitOk;
  };
}

TAction Dump(std::vector<std::string> arguments) {
  const bool json = TakeFlags(arguments, {"--json"}).count("--json") != 0;
  ExpectCount(arguments, 0, 1);
  const std::string expression = arguments.empty() ? "*" : arguments[0];
  WarnAboutPlainNames({expression});
  return [=](TInfoClient& client) {
    const std::map<std::string, std::string> objects = client.Dump(expression);
    if (json) {
      WriteLine(JsonObject(objects.begin(), objects.end()));
      return kExitOk;
    }
    // Names may hold line feeds too; escaped alike, every object stays on one line.
    for (const auto& [name, value] : objects) WriteLine(Escaped(name) + "=" + Escaped(value));
    return kExitOk;
  };
}

// --- the plain commands ---------------------------------------------------------------------

// All names are read in one request; when the service refuses it, each name is read on its
// own, so that what can be read is printed and each name that failed is named.
TAction Get(std::vector<std::string> arguments) {
  const bool json = TakeFlags(arguments, {"--json"}).count("--json") != 0;
  ExpectCount(arguments, 1, SIZE_MAX);
  return [=](TInfoClient& client) {
    std::vector<std::pair<std::string, std::string>> found;
    int status = kExitOk;
    try {
      const std::vector<std::string> values =
          arguments.size() == 1 ? std::vector<std::string>{client.Get(arguments[0])}
                                : client.GetObjects(arguments);
      for (size_t i = 0; i < arguments.size() && i < values.size(); ++i) {
        found.emplace_back(arguments[i], values[i]);
      }
    } catch (const TInfoError& refused) {
      if (!IsRefusal(refused)) throw;
      for (const std::string& name : arguments) {
        try {
          found.emplace_back(name, client.Get(name));
        } catch (const TInfoError& error) {
          if (!IsRefusal(error)) throw;
          fprintf(stderr, "infoctl: %s: error %d: %s\n", name.c_str(), error.GetCode(),
                  error.GetText().c_str());
          status = kExitRefused;
        }
      }
    }
    if (!json) {
      for (const auto& pair : found) WriteLine(pair.second);
      return status;
    }
    // A name asked for twice appears once: JSON objects have no repeated keys.
    std::vector<std::pair<std::string, std::string>> pairs;
    std::set<std::string> seen;
    for (const auto& pair : found) {
      if (seen.insert(pair.first).second) pairs.push_back(pair);
    }
    WriteLine(JsonObject(pairs.begin(), pairs.end()));
    return status;
  };
}

TAction Set(std::vector<std::string> arguments) {
  const auto storage = Storage(TakeFlags(arguments, {"-v"}));
  ExpectCount(arguments, 2, SIZE_MAX);
  if (arguments.size() % 2 != 0) throw TUsageError("a NAME without a VALUE");
  std::vector<std::string> names;
  std::vector<std::string> values;
  for (size_t i = 0; i < arguments.size(); i += 2) {
    names.push_back(arguments[i]);
    values.push_back(arguments[i + 1]);
  }
  return [=](TInfoClient& client) {
    if (names.size() == 1) {
      client.Set(names[0], values[0], storage);
    } else {
      client.SetObjects(names, values, storage);
    }
    return kExitOk;
  };
}

TAction Unset(std::vector<std::string> arguments) {
  const auto storage = Storage(TakeFlags(arguments, {"-v"}));
  ExpectCount(arguments, 1, SIZE_MAX);
  return [=](TInfoClient& client) {
    if (arguments.size() == 1) {
      client.Unset(arguments[0], storage);
    } else {
      client.UnsetObjects(arguments, storage);
    }
    return kExitOk;
  };
}

TAction GetToFile(std::vector<std::string> arguments) {
  TakeFlags(arguments, {});
  ExpectCount(arguments, 2, 2);
  const std::string fileName = Absolute(arguments[1]);
  return [=](TInfoClient& client) {
    client.GetToFile(arguments[0], fileName);
    return kExitOk;
  };
}

TAction SetFromFile(std::vector<std::string> arguments) {
  const auto storage = Storage(TakeFlags(arguments, {"-v"}));
  ExpectCount(arguments, 2, 2);
  const std::string fileName = Absolute(arguments[1]);
  return [=](TInfoClient& client) {
    client.SetFromFile(arguments[0], fileName, storage);
    return kExitOk;
  };
}

// Checks the command and its arguments completely before anything is sent.
TAction ParseCommand(const TCommandLine& line) {
  using TParser = TAction (*)(std::vector<std::string>);
  static const std::map<std::string, TParser> kCommands = {{"get", Get},
                                                           {"set", Set},
                                                           {"unset", Unset},
                                                           {"get-to-file", GetToFile},
                                                           {"set-from-file", SetFromFile},
                                                           {"watch", Watch},
                                                           {"dump", Dump}};
  const auto command = kCommands.find(line.command);
  if (command == kCommands.end()) throw TUsageError("unknown command '" + line.command + "'");
  return command->second(line.arguments);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  TCommandLine line;
  try {
    line = ParseCommandLine(argc, argv);
  } catch (const TUsageError& e) {
    fprintf(stderr, "infoctl: %s; try 'infoctl -h'\n", e.GetText());
    return kExitUsage;
  }
  if (line.help) {
    fputs(kUsage, stdout);
    return kExitOk;
  }
  TAction action;
  try {
    action = ParseCommand(line);
  } catch (const TUsageError& e) {
    fprintf(stderr, "infoctl: %s; try 'infoctl -h'\n", e.GetText());
    return kExitUsage;
  }
  int status = kExitOk;
  try {
    TInfoClient client(GivenDaemonAddress(line.address, line.addressFile));
    status = action(client);
  } catch (const TInfoError& e) {
    if (!IsRefusal(e)) {
      fprintf(stderr, "infoctl: %s\n", e.GetText().c_str());
      status = kExitUsage;
    } else {
      fprintf(stderr, "infoctl: error %d: %s\n", e.GetCode(), e.GetText().c_str());
      status = kExitRefused;
    }
  }
  fflush(stdout);
  return status;
}

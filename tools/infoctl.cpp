// infoctl: the command-line tool with which users and scripts drive the information service.
// Its interface is relied on by scripts and must not change:
//
//   infoctl [-A ADDRESS | -i FILE] COMMAND [ARGUMENT]...
//     get NAME...                            each value and a newline, in order
//     set [-v] NAME VALUE [NAME VALUE]...    storage type 0, or 1 with -v
//     unset [-v] NAME...
//     get-to-file NAME FILE                  the daemon writes FILE
//     set-from-file [-v] NAME FILE           the daemon reads FILE
//     watch [-n] EXPR...                     "changed NAME" / "removed NAME" per notification
//     dump [EXPR]                            NAME=VALUE per visible object, sorted by name
//
// Finding the daemon: -A ADDRESS; else -i FILE (what infoservice -i wrote); else
// $INFOSERVICE_ADDRESS; else "InformationService" looked up at $NAMESERVICE_ADDRESS.
//
// Exit status: 0 success; 1 the daemon refused the request ("infoctl: error CODE: TEXT" on
// standard error); 2 a usage error, or the daemon could not be reached.
//
// File names handed to the daemon are made absolute first: the daemon opens them itself, from
// its own working directory.
//
// watch and dump serve an observer object of their own. The IPC server that serves it runs
// its loop on the main thread from before the subscription until the end, and the subscribe
// call is made from a second thread: the daemon enumerates synchronously inside the
// subscribe call, so an observer that is not read while the call is pending would fill the
// socket and the daemon's bounded queue for it, and notifications would be dropped.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "toi/IToiInformationObserver.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TNameServiceCaller.h"
#include "toi/TToiInformationObserverDispatcher.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: infoctl [-A ADDRESS | -i FILE] COMMAND [ARGUMENT]...\n"
    "       infoctl -h\n"
    "Commands:\n"
    "  get NAME...                          print each value on a line of its own\n"
    "  set [-v] NAME VALUE [NAME VALUE]...  set objects (permanent; -v: volatile)\n"
    "  unset [-v] NAME...                   remove objects (permanent; -v: volatile)\n"
    "  get-to-file NAME FILE                write a value into FILE, which must exist\n"
    "  set-from-file [-v] NAME FILE         set an object from the contents of FILE\n"
    "  watch [-n] EXPR...                   print 'changed NAME' or 'removed NAME' per\n"
    "                                       notification until SIGINT or SIGTERM;\n"
    "                                       -n: no enumeration of the present objects\n"
    "  dump [EXPR]                          print NAME=VALUE for every visible object that\n"
    "                                       matches EXPR (default *), sorted by name;\n"
    "                                       backslash and newline are written as \\\\ and \\n\n"
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

// The daemon's address could not be found at all (exit 2, like an unreachable daemon).
class TAddressError final : public TException {
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

// Takes the one-letter flag `flag` (none when empty) off the front of the arguments, at most
// once; "--" ends the flags, so that a name or value that starts with '-' can follow it.
bool TakeFlag(std::vector<std::string>& arguments, const std::string& flag) {
  bool found = false;
  while (!arguments.empty() && arguments.front().size() > 1 && arguments.front()[0] == '-') {
    if (arguments.front() == "--") {
      arguments.erase(arguments.begin());
      break;
    }
    if (flag.empty() || arguments.front() != flag || found) {
      throw TUsageError("unknown option '" + arguments.front() + "'");
    }
    found = true;
    arguments.erase(arguments.begin());
  }
  return found;
}

std::string Trimmed(const std::string& text) {
  const size_t end = text.find_last_not_of(" \t\r\n");
  const size_t begin = text.find_first_not_of(" \t\r\n");
  return end == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string ReadAddressFile(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    throw TAddressError(ErrnoMessage("cannot read address file '" + fileName + "'", errno));
  }
  const std::string address =
      Trimmed(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
  if (address.empty()) throw TAddressError("address file '" + fileName + "' is empty");
  return address;
}

std::string FindDaemon(const TCommandLine& line, TIpcClient& client) {
  if (!line.address.empty()) return line.address;
  if (!line.addressFile.empty()) return ReadAddressFile(line.addressFile);
  const char* address = getenv("INFOSERVICE_ADDRESS");
  if (address != nullptr && *address != '\0') return address;
  const char* nameService = getenv("NAMESERVICE_ADDRESS");
  if (nameService == nullptr || *nameService == '\0') {
    throw TAddressError(
        "no daemon address: give -A or -i, or set INFOSERVICE_ADDRESS or NAMESERVICE_ADDRESS");
  }
  std::string found;
  try {
    TNameServiceCaller(&client, nameService).LookupObject("InformationService", found);
  } catch (const TException& e) {
    throw TAddressError(std::string("cannot look up InformationService at the name service '") +
                        nameService + "': " + e.GetText());
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

void WriteLine(const std::string& text) {
  std::string line = text + '\n';
  fwrite(line.data(), 1, line.size(), stdout);
}

void ExpectCount(const std::vector<std::string>& arguments, size_t minimum, size_t maximum) {
  if (arguments.size() < minimum) throw TUsageError("missing arguments");
  if (arguments.size() > maximum) throw TUsageError("too many arguments");
}

using TStorageTypes = std::vector<IToiInformationService::TStorageType>;

IToiInformationService::TStorageType StorageType(bool isVolatile) {
  return isVolatile ? IToiInformationService::eVolatile : IToiInformationService::ePermanent;
}

// --- watch and dump ------------------------------------------------------------------------

using TAction = std::function<int(TIpcClient&, const std::string& daemon)>;
using TClock = std::chrono::steady_clock;

// The observer served by watch and dump: prints each notification (watch) and keeps the set
// of names seen and not removed since (dump). Runs on the loop thread; the first name seen is
// also read by the subscribing thread.
class TObserver final : public IToiInformationObserver {
 public:
  // onNotification: called after every notification; onOutputClosed: when printing failed.
  TObserver(bool print, std::function<void()> onNotification, std::function<void()> onOutputClosed)
      : print_(print),
        onNotification_(std::move(onNotification)),
        onOutputClosed_(std::move(onOutputClosed)) {}

  // IToiInformationObserver
  void OnObjectsChanged(const TStringList& names) override {
    for (const std::string& name : names) {
      Note("changed ", name);
      names_.insert(name);
    }
  }
  void OnObjectsRemoved(const TStringList& names) override {
    for (const std::string& name : names) {
      Note("removed ", name);
      names_.erase(name);
    }
  }

  const std::set<std::string>& GetNames() const { return names_; }
  TClock::time_point GetLastNotification() const { return last_; }
  std::string GetFirstName() const {
    std::lock_guard<std::mutex> lock(firstMutex_);
    return first_;
  }

 private:
  void Note(const char* what, const std::string& name) {
    last_ = TClock::now();
    {
      std::lock_guard<std::mutex> lock(firstMutex_);
      if (first_.empty()) first_ = name;
    }
    // A reader that went away (watch | head -1) ends the watch like a signal would.
    if (print_) {
      WriteLine(what + name);
      if (fflush(stdout) != 0 && onOutputClosed_) onOutputClosed_();
    }
    if (onNotification_) onNotification_();
  }

  bool print_;
  std::function<void()> onNotification_;
  std::function<void()> onOutputClosed_;
  std::set<std::string> names_;
  TClock::time_point last_ = TClock::now();
  mutable std::mutex firstMutex_;
  std::string first_;
};

TEpollEventLoop* gLoop = nullptr;

extern "C" void StopOnSignal(int) {
  if (gLoop != nullptr) gLoop->Stop();
}

// Two observer objects served on an IPC server and loop of our own: the main one, and a marker
// used to learn that everything sent to the main one before has arrived (see CollectNames).
// Serve runs the loop on the calling thread and the subscription work on a second thread
// with its own connection to the daemon, so that notifications are read while the subscribe
// call is still pending.
class TObserverSession final : private IIOTimeoutHandler {
 public:
  explicit TObserverSession(bool print) : observer_(print, nullptr, [this] { loop_.Stop(); }) {}
  ~TObserverSession() override {
    if (gLoop == &loop_) gLoop = nullptr;
  }

  const std::string& GetAddress() const { return address_; }
  const std::string& GetMarkerAddress() const { return markerAddress_; }
  const TObserver& GetObserver() const { return observer_; }

  // Serves until SIGINT or SIGTERM, until `work` fails, or, when `untilMarker`, until the
  // marker object receives its first notification (with a fallback: once `work` returned,
  // one second without any notification). Rethrows the failure of `work` after the loop.
  void Serve(std::function<void()> work, bool untilMarker) {
    work_ = std::move(work);
    untilMarker_ = untilMarker;
    gLoop = &loop_;
    struct sigaction action = {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The worker starts from inside the loop, so that its Stop can never come before Run.
    timer_ = loop_.AddTimeout(0, this);
    loop_.Run();
    gLoop = nullptr;
    if (worker_.joinable()) worker_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  static constexpr unsigned kCheckMilliseconds = 100;
  static constexpr std::chrono::seconds kFallbackQuiet{1};

  // IIOTimeoutHandler
  void HandleTimeout(int) override {
    if (!worker_.joinable()) {
      loop_.RemoveTimeout(timer_);
      timer_ = -1;
      worker_ = std::thread([this] { RunWork(); });
      if (untilMarker_) timer_ = loop_.AddTimeout(kCheckMilliseconds, this);
      return;
    }
    if (!done_) return;
    const TClock::time_point now = TClock::now();
    if (doneSeen_ == TClock::time_point()) doneSeen_ = now;
    const TClock::time_point last =
        std::max({doneSeen_, observer_.GetLastNotification(), marker_.GetLastNotification()});
    if (now - last >= kFallbackQuiet) loop_.Stop();
  }

  void RunWork() {
    try {
      work_();
    } catch (...) {
      failure_ = std::current_exception();
      loop_.Stop();
    }
    done_ = true;
  }

  TEpollEventLoop loop_;
  TIpcServer server_{loop_};
  std::string address_ = server_.CreateObject();
  std::string markerAddress_ = server_.CreateObject();
  TObserver observer_;
  TObserver marker_{false,
                    [this] {
                      if (untilMarker_) loop_.Stop();
                    },
                    nullptr};
  TToiInformationObserverDispatcher dispatcher_{server_, address_, observer_};
  TToiInformationObserverDispatcher markerDispatcher_{server_, markerAddress_, marker_};
  std::function<void()> work_;
  bool untilMarker_ = false;
  int timer_ = -1;
  std::thread worker_;
  std::atomic<bool> done_{false};
  TClock::time_point doneSeen_;
  std::exception_ptr failure_;
};

// Takes back every subscription of the session; after a failure, quietly.
void Unsubscribe(TIpcClient& client, const std::string& daemon, const TObserverSession& session,
                 bool quietly) {
  try {
    TInformationServiceCaller service(&client, daemon);
    service.UnsubscribeAllObjects(session.GetAddress());
    service.UnsubscribeAllObjects(session.GetMarkerAddress());
  } catch (const TException&) {
    if (!quietly) throw;
  }
}

TAction Watch(std::vector<std::string> arguments) {
  const bool enumerate = !TakeFlag(arguments, "-n");
  ExpectCount(arguments, 1, SIZE_MAX);
  return [=](TIpcClient& client, const std::string& daemon) {
    TObserverSession session(true);
    try {
      session.Serve(
          [&] {
            TInformationServiceCaller(&client, daemon)
                .SubscribeObjects2(arguments, 0, session.GetAddress(), enumerate);
          },
          false);
    } catch (...) {
      // Expressions before a refused one stay subscribed.
      Unsubscribe(client, daemon, session, true);
      throw;
    }
    Unsubscribe(client, daemon, session, false);
    return kExitOk;
  };
}

// The names of the visible objects matching `expression`. The service has no listing
// operation; an enumerating subscription on an observer of our own delivers the names instead.
//
// The subscribe call returns once the daemon has enumerated, but its notifications are
// one-way: what its socket did not take at once is still queued in the daemon when the call
// returns. Waiting for silence would be a guess, so the end is marked instead: the daemon
// keeps one connection per peer socket and both our objects share our server's socket, so
// notifications reach them in the order they were sent. After the first subscription
// returned, a second one with enumeration on the marker object asks for something that
// exists (the first name already received, else "*"); the marker's first notification
// therefore arrives after every enumerated name. Should nothing match any more (the name was
// removed meanwhile, or the store is empty), a second of silence ends the wait instead.
std::set<std::string> CollectNames(TIpcClient& client, const std::string& daemon,
                                   const std::string& expression) {
  TObserverSession session(false);
  try {
    session.Serve(
        [&] {
          TInformationServiceCaller service(&client, daemon);
          service.SubscribeObject2(expression, 0, session.GetAddress(), true);
          const std::string known = session.GetObserver().GetFirstName();
          service.SubscribeObject2(known.empty() ? "*" : known, 0, session.GetMarkerAddress(),
                                   true);
        },
        true);
  } catch (...) {
    Unsubscribe(client, daemon, session, true);
    throw;
  }
  Unsubscribe(client, daemon, session, false);
  return session.GetObserver().GetNames();
}

// Reads the values of the collected names in one call; when an object vanished since the
// enumeration (201), falls back to one call per name and leaves out the vanished ones.
std::map<std::string, std::string> ReadObjects(IToiInformationService& service,
                                               const std::set<std::string>& names) {
  std::map<std::string, std::string> objects;
  const TStringList list(names.begin(), names.end());
  TStringList values;
  try {
    service.GetObjects(list, values);
    for (size_t i = 0; i < list.size() && i < values.size(); ++i) objects[list[i]] = values[i];
    return objects;
  } catch (const TDispatchableException& e) {
    if (e.GetCode() != 201) throw;
  }
  for (const std::string& name : list) {
    try {
      service.GetObject(name, objects[name]);
    } catch (const TDispatchableException& e) {
      if (e.GetCode() != 201) throw;
      objects.erase(name);
    }
  }
  return objects;
}

TAction Dump(std::vector<std::string> arguments) {
  TakeFlag(arguments, "");
  ExpectCount(arguments, 0, 1);
  const std::string expression = arguments.empty() ? "*" : arguments[0];
  return [=](TIpcClient& client, const std::string& daemon) {
    const std::set<std::string> names = CollectNames(client, daemon, expression);
    TInformationServiceCaller service(&client, daemon);
    for (const auto& [name, value] : ReadObjects(service, names)) {
      WriteLine(name + "=" + Escaped(value));
    }
    return kExitOk;
  };
}

// --- the plain commands ---------------------------------------------------------------------

// Wraps an operation on the information service into an action.
template <typename TCall>
TAction OnService(TCall call) {
  return [call](TIpcClient& client, const std::string& daemon) {
    TInformationServiceCaller service(&client, daemon);
    call(service);
    return kExitOk;
  };
}

TAction Get(std::vector<std::string> arguments) {
  TakeFlag(arguments, "");
  ExpectCount(arguments, 1, SIZE_MAX);
  return OnService([arguments](IToiInformationService& service) {
    TStringList values;
    if (arguments.size() == 1) {
      values.emplace_back();
      service.GetObject(arguments[0], values[0]);
    } else {
      service.GetObjects(arguments, values);
    }
    for (const std::string& value : values) WriteLine(value);
  });
}

TAction Set(std::vector<std::string> arguments) {
  const auto type = StorageType(TakeFlag(arguments, "-v"));
  ExpectCount(arguments, 2, SIZE_MAX);
  if (arguments.size() % 2 != 0) throw TUsageError("a NAME without a VALUE");
  TStringList names;
  TStringList values;
  for (size_t i = 0; i < arguments.size(); i += 2) {
    names.push_back(arguments[i]);
    values.push_back(arguments[i + 1]);
  }
  return OnService([=](IToiInformationService& service) {
    if (names.size() == 1) {
      service.SetObject(names[0], values[0], type);
    } else {
      service.SetObjects(names, values, TStorageTypes(names.size(), type));
    }
  });
}

TAction Unset(std::vector<std::string> arguments) {
  const auto type = StorageType(TakeFlag(arguments, "-v"));
  ExpectCount(arguments, 1, SIZE_MAX);
  return OnService([=](IToiInformationService& service) {
    if (arguments.size() == 1) {
      service.UnsetObject(arguments[0], type);
    } else {
      service.UnsetObjects(arguments, TStorageTypes(arguments.size(), type));
    }
  });
}

TAction GetToFile(std::vector<std::string> arguments) {
  TakeFlag(arguments, "");
  ExpectCount(arguments, 2, 2);
  const std::string fileName = Absolute(arguments[1]);
  return OnService(
      [=](IToiInformationService& service) { service.GetObjectToFile(arguments[0], fileName); });
}

TAction SetFromFile(std::vector<std::string> arguments) {
  const auto type = StorageType(TakeFlag(arguments, "-v"));
  ExpectCount(arguments, 2, 2);
  const std::string fileName = Absolute(arguments[1]);
  return OnService([=](IToiInformationService& service) {
    service.SetObjectFromFile(arguments[0], fileName, type);
  });
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
    fprintf(stderr, "infoctl: %s\n%s", e.GetText(), kUsage);
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
    fprintf(stderr, "infoctl: %s\n%s", e.GetText(), kUsage);
    return kExitUsage;
  }
  // Without a loop: watch and dump call through it from their worker thread, and it only
  // calls, so nothing of it ever waits for writability.
  TIpcClient client;
  TCIpcClient_Init(&client);
  std::string daemon;
  int status = kExitOk;
  try {
    daemon = FindDaemon(line, client);
    status = action(client, daemon);
  } catch (const TAddressError& e) {
    fprintf(stderr, "infoctl: %s\n", e.GetText());
    status = kExitUsage;
  } catch (const TDispatchableException& e) {
    fprintf(stderr, "infoctl: error %u: %s\n", static_cast<unsigned>(e.GetCode()), e.GetText());
    status = kExitRefused;
  } catch (const TException& e) {
    fprintf(stderr, "infoctl: cannot reach the information service at '%s': %s\n", daemon.c_str(),
            e.GetText());
    status = kExitUsage;
  }
  fflush(stdout);
  TCIpcClient_CleanUp(&client);
  return status;
}

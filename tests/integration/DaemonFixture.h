// Shared support of the integration tests: a temporary box root, the real infoservice process
// started in it, and infoctl (or any other built program) run against it. Every process is
// started with fork/exec, ended only by its own pid, and waited for with a deadline; output
// goes to files in the temporary root so that a child can never block on a full pipe.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace integration {

using TClock = std::chrono::steady_clock;
constexpr std::chrono::seconds kDeadline(20);

// Repeats `ready` until it is true or the deadline passed; the interval is short because the
// tests wait for other processes, whose progress cannot be driven from here.
inline bool WaitUntil(const std::function<bool()>& ready,
                      std::chrono::milliseconds limit = kDeadline) {
  const TClock::time_point end = TClock::now() + limit;
  for (;;) {
    if (ready()) return true;
    if (TClock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A built program: tools sit in the tools/ subfolder of the build, the daemon at its top.
inline std::string BinaryPath(const std::string& name) {
  for (const char* folder : {"/tools/", "/bench/", "/"}) {
    const std::string path = std::string(INFOSERVICE_BINARY_DIR) + folder + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  throw std::runtime_error("program not built: " + name);
}

inline std::string SourcePath(const std::string& relative) {
  return std::string(INFOSERVICE_SOURCE_DIR) + "/" + relative;
}

// A temporary box root (INFOSERVICE_ROOT) with the fixed files the daemon needs to start:
// an empty token value dictionary and the two object directories. Removed with its content.
class TTempRoot final {
 public:
  TTempRoot() {
    std::string pattern = (getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp");
    pattern += "/infoservice-it-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    for (const char* folder : {"/etc", "/flash2", "/flash2/information", "/tmp2",
                               "/tmp2/information", "/proc", "/work"}) {
      mkdir((path_ + folder).c_str(), 0755);
    }
    WriteFile(path_ + "/etc/ial_token_value_dictionary.xml", "<Objects></Objects>\n");
    WriteFile(path_ + "/proc/cmdline", "console=ttyS0\n");
  }
  ~TTempRoot() {
    nftw(
        path_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TTempRoot(const TTempRoot&) = delete;
  TTempRoot& operator=(const TTempRoot&) = delete;

  const std::string& Path() const { return path_; }
  // A path for the test's own files, outside the box tree.
  std::string File(const std::string& name) const { return path_ + "/work/" + name; }

 private:
  std::string path_;
};

using TEnvironment = std::map<std::string, std::string>;

// The environment of a child: ours without the variables that steer the daemon and infoctl,
// plus `overrides` (an empty value removes a variable).
inline std::vector<std::string> ChildEnvironment(const TEnvironment& overrides) {
  static const char* const kOwn[] = {"INFOSERVICE_ROOT", "SERVICE_ID", "NAMESERVICE_ADDRESS",
                                     "INFOSERVICE_ADDRESS"};
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool own = overrides.count(name) != 0;
    for (const char* k : kOwn) own = own || name == k;
    if (!own) result.push_back(text);
  }
  for (const auto& [name, value] : overrides) {
    if (!value.empty()) result.push_back(name + "=" + value);
  }
  return result;
}

// One child process. Its standard output and error go to the given files (appended), its
// standard input is /dev/null. The destructor kills and reaps it if it still runs.
class TProcess final {
 public:
  // With `withInput`, the child's standard input is a pipe that Send writes to.
  TProcess(const std::vector<std::string>& argv, const TEnvironment& environment,
           const std::string& outPath, const std::string& errPath, bool withInput = false) {
    std::vector<std::string> env = ChildEnvironment(environment);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    int pipeEnds[2] = {-1, -1};
    if (withInput && pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      const int in = withInput ? pipeEnds[0] : open("/dev/null", O_RDONLY);
      const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execve(args[0], args.data(), envp.data());
      _exit(127);
    }
    if (withInput) {
      close(pipeEnds[0]);
      input_ = pipeEnds[1];
    }
  }
  ~TProcess() {
    if (input_ >= 0) close(input_);
    if (running()) {
      kill(pid_, SIGTERM);
      if (Wait(std::chrono::seconds(5)) == -1) {
        kill(pid_, SIGKILL);
        Wait(std::chrono::seconds(5));
      }
    }
  }
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // Writes a line to the child's standard input (a process started `withInput`).
  void Send(const std::string& line) const {
    const std::string text = line + "\n";
    if (input_ < 0 ||
        write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      throw std::runtime_error("cannot write to the child");
    }
  }
  void Signal(int signal) const {
    if (running()) kill(pid_, signal);
  }
  // True while the process has not been reaped; reaps it when it has ended.
  bool Poll() {
    if (!running()) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  // The exit status (128 + signal number for a killed process), or -1 when it still runs at
  // the deadline.
  int Wait(std::chrono::milliseconds limit = kDeadline) {
    WaitUntil([this] { return !Poll(); }, limit);
    return status_;
  }

 private:
  bool running() const { return status_ == -1; }

  pid_t pid_ = -1;
  int status_ = -1;
  int input_ = -1;
};

struct TResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a program to its end (killed at the deadline) and collects its output.
inline TResult RunProgram(const TTempRoot& root, const std::vector<std::string>& argv,
                          const TEnvironment& environment) {
  static int counter = 0;
  const std::string base = root.File("run" + std::to_string(++counter));
  TResult result;
  {
    TProcess process(argv, environment, base + ".out", base + ".err");
    result.status = process.Wait();
  }
  result.out = ReadFile(base + ".out");
  result.err = ReadFile(base + ".err");
  return result;
}

// The real daemon in a temporary root. Start waits until the daemon wrote its address file
// (it then serves) or ended.
class TDaemon final {
 public:
  explicit TDaemon(const TTempRoot& root) : root_(root) {}

  std::string AddressFile() const { return root_.Path() + "/infoservice.address"; }
  std::string LogFile() const { return root_.Path() + "/infoservice.log"; }
  TEnvironment Environment() const { return {{"INFOSERVICE_ROOT", root_.Path()}}; }

  // Starts "infoservice -i ADDRESSFILE ARGUMENTS..." with the root's environment plus
  // `environment`. True when the daemon came up and serves.
  bool Start(const std::vector<std::string>& arguments, const TEnvironment& environment = {}) {
    std::vector<std::string> argv = {BinaryPath("infoservice"), "-i", AddressFile()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    TEnvironment env = Environment();
    env.insert(environment.begin(), environment.end());
    ::remove(AddressFile().c_str());
    process_ = std::make_unique<TProcess>(argv, env, LogFile(), LogFile());
    WaitUntil([&] { return !ReadFile(AddressFile()).empty() || !process_->Poll(); });
    return process_->Poll() && !ReadFile(AddressFile()).empty();
  }
  // Standalone host mode (-s -t), the usual way the tests run the daemon.
  bool StartStandalone(const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> all = {"-s", "-t"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Start(all);
  }

  std::string Address() const { return ReadFile(AddressFile()); }
  std::string Log() const { return ReadFile(LogFile()); }
  bool WaitForLog(const std::string& text) const {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; });
  }
  TProcess& Process() { return *process_; }

  // Hang-up, then the exit status (-1 when it did not end in time).
  int Stop() {
    process_->Signal(SIGHUP);
    return process_->Wait();
  }

  // infoctl with -i pointing at this daemon's address file.
  TResult Infoctl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {BinaryPath("infoctl"), "-i", AddressFile()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(root_, argv, Environment());
  }

 private:
  const TTempRoot& root_;
  std::unique_ptr<TProcess> process_;
};

// A long-running infoctl watch whose output lines are read back from its output file.
class TWatch final {
 public:
  TWatch(const TTempRoot& root, const TDaemon& daemon, const std::vector<std::string>& arguments)
      : out_(root.File("watch" + std::to_string(++Counter()) + ".out")), err_(out_ + ".err") {
    std::vector<std::string> argv = {BinaryPath("infoctl"), "-i", daemon.AddressFile(), "watch"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process_ = std::make_unique<TProcess>(argv, daemon.Environment(), out_, err_);
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(out_));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool WaitForLines(size_t count) const {
    return WaitUntil([&] { return Lines().size() >= count; });
  }
  std::string Errors() const { return ReadFile(err_); }
  TProcess& Process() { return *process_; }

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }

  std::string out_;
  std::string err_;
  std::unique_ptr<TProcess> process_;
};

// The platform simulator (tools/platform-simulator): a name service, platform service and
// application service that log every call they receive, one line each, and take control
// commands ("ping", "state ID:STATE") on standard input.
class TPlatformSimulator final {
 public:
  explicit TPlatformSimulator(const TTempRoot& root)
      : root_(root),
        addressFile_(root.File("nameservice.address")),
        log_(root.File("simulator.log")) {}

  bool Start() {
    process_ = std::make_unique<TProcess>(
        std::vector<std::string>{BinaryPath("platform-simulator"), "-a", addressFile_},
        TEnvironment{{"INFOSERVICE_ROOT", root_.Path()}}, log_, log_, true);
    return WaitUntil([&] { return !Address().empty(); });
  }
  std::string Address() const { return ReadFile(addressFile_); }
  std::string Log() const { return ReadFile(log_); }
  bool WaitForLog(const std::string& text) const {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; });
  }
  void Command(const std::string& line) const { process_->Send(line); }

 private:
  const TTempRoot& root_;
  std::string addressFile_;
  std::string log_;
  std::unique_ptr<TProcess> process_;
};

}  // namespace integration

// Shared support of the integration tests: a temporary box root, one child-process helper for
// every program the tests start, and the daemon and the simulator set up in the root. Children
// are ended only by their own pid and waited for with a deadline; their output goes to files
// so that a child can never block on a full pipe.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestSupport.h"

extern char** environ;

namespace integration {

using test::FileExists;
using test::ReadFile;
using test::WriteFile;
constexpr std::chrono::seconds kDeadline(20);

// Repeats `ready` until it is true or the deadline passed (the tests wait for other processes).
inline bool WaitUntil(const std::function<bool()>& ready,
                      std::chrono::milliseconds limit = kDeadline) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A built program: tools and benchmarks in their subfolders of the build, the daemon at its top.
inline std::string BinaryPath(const std::string& name) {
  for (const char* folder : {"/tools/", "/bench/", "/"}) {
    const std::string path = std::string(INFOSERVICE_BINARY_DIR) + folder + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  throw std::runtime_error("program not built: " + name);
}

// A temporary box root with what the daemon needs to start; this process's INFOSERVICE_ROOT
// too, so that IPC servers of the test put their sockets inside it.
class TTempRoot final {
 public:
  TTempRoot() {
    for (const char* folder : {"/etc", "/flash2", "/flash2/information", "/tmp2",
                               "/tmp2/information", "/proc", "/work"}) {
      mkdir((Path() + folder).c_str(), 0755);
    }
    WriteFile(Path() + "/etc/ial_token_value_dictionary.xml", "<Objects></Objects>\n");
    WriteFile(Path() + "/proc/cmdline", "console=ttyS0\n");
    setenv("INFOSERVICE_ROOT", Path().c_str(), 1);
  }
  ~TTempRoot() { unsetenv("INFOSERVICE_ROOT"); }

  // The files of the file-backed HAL that a daemon without -t needs (docs/hal.md).
  void AddHal() const {
    for (const char* folder : {"/var", "/var/hal"}) mkdir((Path() + folder).c_str(), 0755);
    WriteFile(Path() + "/var/hal/systeminfo", "STB\narmhf\nrev1\nboard1\n");
    WriteFile(Path() + "/var/hal/firmware-version", "1.0.0\n");
  }
  const std::string& Path() const { return dir_.Path(); }
  // A path for the test's own files, outside the box tree.
  std::string File(const std::string& name) const { return Path() + "/work/" + name; }

 private:
  test::TTempDir dir_;
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

// One child process. Its standard output and error go to files of its own in the root; its
// standard input is /dev/null, or a pipe that Send writes to when started `withInput`. A
// `fileSizeLimit` (RLIMIT_FSIZE, bytes) stands in for a full disk. The destructor ends the
// child (SIGTERM, then SIGKILL) if it still runs.
class TProcess final {
 public:
  TProcess(const TTempRoot& root, const std::vector<std::string>& argv,
           const TEnvironment& environment = {}, bool withInput = false, rlim_t fileSizeLimit = 0)
      : out_(root.File("process" + std::to_string(++counter_) + ".out")), err_(out_ + ".err") {
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
      const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      if (fileSizeLimit != 0) setrlimit(RLIMIT_FSIZE, &limit);
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

  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(Out());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool WaitForLines(size_t count) const {
    return WaitUntil([&] { return Lines().size() >= count; });
  }
  // Until standard output or error holds `text`.
  bool WaitForOutput(const std::string& text) const {
    return WaitUntil([&] { return (Out() + Err()).find(text) != std::string::npos; });
  }

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

  static inline int counter_ = 0;
  std::string out_;
  std::string err_;
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
                          const TEnvironment& environment = {}) {
  TProcess process(root, argv, environment);
  const int status = process.Wait();
  return {status, process.Out(), process.Err()};
}

// The real daemon in a temporary root. Start waits until the daemon wrote its address file
// (it then serves) or ended.
class TDaemon final {
 public:
  explicit TDaemon(const TTempRoot& root) : root_(root) {}

  std::string AddressFile() const { return root_.Path() + "/infoservice.address"; }
  TEnvironment Environment() const { return {{"INFOSERVICE_ROOT", root_.Path()}}; }

  // Starts "infoservice -i ADDRESSFILE ARGUMENTS..." with the root's environment plus
  // `environment`. True when the daemon came up and serves.
  bool Start(const std::vector<std::string>& arguments, const TEnvironment& environment = {},
             rlim_t fileSizeLimit = 0) {
    std::vector<std::string> argv = {BinaryPath("infoservice"), "-i", AddressFile()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    TEnvironment env = Environment();
    env.insert(environment.begin(), environment.end());
    ::remove(AddressFile().c_str());
    process_.reset();
    process_ = std::make_unique<TProcess>(root_, argv, env, false, fileSizeLimit);
    WaitUntil([&] { return !Address().empty() || !process_->Poll(); });
    return process_->Poll() && !Address().empty();
  }
  // Standalone host mode, the usual way.
  bool StartStandalone(const std::vector<std::string>& arguments = {}, rlim_t fileSizeLimit = 0) {
    std::vector<std::string> all = {"-s", "-t"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Start(all, {}, fileSizeLimit);
  }

  std::string Address() const { return ReadFile(AddressFile()); }
  std::string Log() const { return process_->Out() + process_->Err(); }
  TProcess& Process() { return *process_; }

  // Hang-up, then the exit status (-1 when it did not end in time).
  int Stop() {
    process_->Signal(SIGHUP);
    return process_->Wait();
  }

  // infoctl with -i at this daemon's address file, run to its end or left running.
  std::vector<std::string> InfoctlCommand(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {BinaryPath("infoctl"), "-i", AddressFile()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
  }
  TResult Infoctl(const std::vector<std::string>& arguments) const {
    return RunProgram(root_, InfoctlCommand(arguments), Environment());
  }
  std::unique_ptr<TProcess> Watch(const std::vector<std::string>& arguments) const {
    std::vector<std::string> all = {"watch"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return std::make_unique<TProcess>(root_, InfoctlCommand(all), Environment());
  }

 private:
  const TTempRoot& root_;
  std::unique_ptr<TProcess> process_;
};

// The platform simulator (tools/platform-simulator): a name service, platform service and
// application service that log every call they receive, one line each, and take control
// commands ("ping", "state ID:STATE", "quit") on standard input.
class TPlatformSimulator final {
 public:
  explicit TPlatformSimulator(const TTempRoot& root)
      : addressFile_(root.File("nameservice.address")),
        process_(root, {BinaryPath("platform-simulator"), "-a", addressFile_},
                 {{"INFOSERVICE_ROOT", root.Path()}}, true) {}

  // True once the simulator published its name service address.
  bool Started() const {
    return WaitUntil([&] { return !Address().empty(); });
  }
  std::string Address() const { return ReadFile(addressFile_); }
  std::string Log() const { return process_.Out() + process_.Err(); }
  bool WaitForLog(const std::string& text) const { return process_.WaitForOutput(text); }
  TProcess& Process() { return process_; }

 private:
  std::string addressFile_;
  TProcess process_;
};

}  // namespace integration

// The integration tests' support: a temporary box root, child processes (ended by their own
// pid, waited for with a deadline, output in files: never blocked on a pipe), and the daemon.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
using TArgs = std::vector<std::string>;
using TEnvironment = std::map<std::string, std::string>;
constexpr std::chrono::seconds kDeadline(20);

// Repeats `ready` until it is true (then true) or the limit passed.
inline bool WaitUntil(const std::function<bool()>& ready,
                      std::chrono::milliseconds limit = kDeadline) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (; !ready(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
    if (std::chrono::steady_clock::now() >= end) return false;
  return true;
}

// A built program: tools in their folder of the build, the daemon at its top.
inline std::string BinaryPath(const std::string& name) {
  for (const char* folder : {"/tools/", "/"}) {
    const std::string path = std::string(INFOSERVICE_BINARY_DIR) + folder + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  throw std::runtime_error("program not built: " + name);
}

inline TArgs Concat(TArgs first, const TArgs& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// A temporary box root with what the daemon needs (docs/hal.md), also this process's
// INFOSERVICE_ROOT (for its IPC sockets); File() names the test's files, outside the tree.
class TTempRoot final {
 public:
  TTempRoot() {
    for (const char* folder : {"/etc", "/flash2", "/flash2/information", "/tmp2",
                               "/tmp2/information", "/proc", "/work", "/var", "/var/hal"})
      mkdir((Path() + folder).c_str(), 0755);
    WriteFile(Path() + "/etc/ial_token_value_dictionary.xml", "<Objects></Objects>\n");
    WriteFile(Path() + "/proc/cmdline", "console=ttyS0\n");
    WriteFile(Path() + "/var/hal/systeminfo", "STB\narmhf\nrev1\nboard1\n");
    WriteFile(Path() + "/var/hal/firmware-version", "1.0.0\n");
    setenv("INFOSERVICE_ROOT", Path().c_str(), 1);
  }
  ~TTempRoot() { unsetenv("INFOSERVICE_ROOT"); }
  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return Path() + "/work/" + name; }
  std::string Write(const std::string& name, const std::string& content) const {
    WriteFile(File(name), content);
    return File(name);
  }

 private:
  test::TTempDir dir_;
};

// A child process reading /dev/null or (`withInput`) what Send writes, in our environment
// without the daemon's and infoctl's variables, plus `overrides` (an empty value removes one).
class TProcess final {
 public:
  TProcess(const TTempRoot& root, const TArgs& argv, const TEnvironment& overrides = {},
           bool withInput = false)
      : out_(root.File("process" + std::to_string(++counter_) + ".out")), err_(out_ + ".err") {
    TArgs env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry, name = text.substr(0, text.find('='));
      if (overrides.count(name) == 0 && name != "INFOSERVICE_ROOT" && name != "SERVICE_ID" &&
          name != "NAMESERVICE_ADDRESS" && name != "INFOSERVICE_ADDRESS")
        env.push_back(text);
    }
    for (const auto& [name, value] : overrides)
      if (!value.empty()) env.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (std::string& e : env) envp.push_back(e.data());
    args.push_back(nullptr), envp.push_back(nullptr);
    int ends[2] = {-1, -1};
    if (withInput && pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if ((pid_ = fork()) < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      const int in = withInput ? ends[0] : open("/dev/null", O_RDONLY);
      const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (in >= 0 && out >= 0 && err >= 0 && dup2(in, 0) >= 0 && dup2(out, 1) >= 0 &&
          dup2(err, 2) >= 0)
        execve(args[0], args.data(), envp.data());
      _exit(127);
    }
    if (withInput) close(ends[0]);
    input_ = ends[1];
  }
  ~TProcess() {
    if (input_ >= 0) close(input_);
    Signal(SIGTERM);
    if (Wait(std::chrono::seconds(5)) == -1) Signal(SIGKILL), Wait(std::chrono::seconds(5));
  }
  TProcess(const TProcess&) = delete;

  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }
  std::string Log() const { return Out() + Err(); }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(Out());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool WaitForLines(size_t count) const {
    return WaitUntil([&] { return Lines().size() >= count; });
  }
  bool WaitForOutput(const std::string& text) const {
    return WaitUntil([&] { return Log().find(text) != std::string::npos; });
  }
  void Send(const std::string& line) const {
    const std::string text = line + "\n";
    if (write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("cannot write to the child");
  }
  pid_t Pid() const { return pid_; }
  void Signal(int signal) const {
    if (status_ == -1) kill(pid_, signal);
  }
  // True while the process runs; reaps it when it has ended.
  bool Poll() {
    int status = 0;
    if (status_ != -1 || waitpid(pid_, &status, WNOHANG) != pid_) return status_ == -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  // The exit status (128 + signal for a killed process), or -1 when it still runs at the limit.
  int Wait(std::chrono::milliseconds limit = kDeadline) {
    WaitUntil([this] { return !Poll(); }, limit);
    return status_;
  }

 private:
  static inline int counter_ = 0;
  std::string out_, err_;
  pid_t pid_ = -1;
  int status_ = -1, input_ = -1;
};

struct TResult {
  int status;
  std::string out, err;
};

// Runs a program to its end (killed at the deadline) and collects its output.
inline TResult RunProgram(const TTempRoot& root, const TArgs& argv, const TEnvironment& env = {}) {
  TProcess process(root, argv, env);
  const int status = process.Wait();
  return {status, process.Out(), process.Err()};
}

// The real daemon in a temporary root, and infoctl pointed at it.
class TDaemon final {
 public:
  explicit TDaemon(const TTempRoot& root) : root_(root) {}

  std::string AddressFile() const { return root_.Path() + "/infoservice.address"; }
  std::string Address() const { return ReadFile(AddressFile()); }
  TEnvironment Environment() const { return {{"INFOSERVICE_ROOT", root_.Path()}}; }

  // Starts "WRAPPER... infoservice -i ADDRESSFILE ARGUMENTS..."; true once it serves.
  bool Start(const TArgs& arguments, const TEnvironment& environment = {},
             const TArgs& wrapper = {}) {
    TEnvironment env = Environment();
    env.insert(environment.begin(), environment.end());
    ::remove(AddressFile().c_str());
    process_.reset();
    process_ = std::make_unique<TProcess>(
        root_, Concat(wrapper, Concat({BinaryPath("infoservice"), "-i", AddressFile()}, arguments)),
        env);
    WaitUntil([&] { return !Address().empty() || !process_->Poll(); });
    return process_->Poll() && !Address().empty();
  }
  bool StartStandalone(const TArgs& arguments = {}, const TArgs& wrapper = {}) {
    return Start(Concat({"-s", "-t"}, arguments), {}, wrapper);
  }
  std::string Log() const { return process_->Log(); }
  TProcess& Process() { return *process_; }
  // Hang-up, then the exit status (-1 when it did not end in time).
  int Stop() { return process_->Signal(SIGHUP), process_->Wait(); }

  // infoctl with -i at this daemon's address file, behind `wrapper` (e.g. setpriv).
  TResult Infoctl(const TArgs& arguments, const TArgs& wrapper = {}) const {
    return RunProgram(root_, Command(arguments, wrapper), Environment());
  }
  // The value without infoctl's line feed; "<none>" when the get failed.
  std::string Get(const std::string& name) const {
    const TResult r = Infoctl({"get", name});
    return r.status != 0 ? "<none>" : r.out.substr(0, r.out.size() - 1);
  }
  std::unique_ptr<TProcess> Watch(const TArgs& arguments, const TArgs& wrapper = {}) const {
    return std::make_unique<TProcess>(root_, Command(Concat({"watch"}, arguments), wrapper),
                                      Environment());
  }

 private:
  TArgs Command(const TArgs& arguments, const TArgs& wrapper) const {
    return Concat(wrapper, Concat({BinaryPath("infoctl"), "-i", AddressFile()}, arguments));
  }

  const TTempRoot& root_;
  std::unique_ptr<TProcess> process_;
};

// A test with a box root and a daemon (not yet started) in it. A cross build's programs run
// only where binfmt_misc hands them to qemu; scripts/cross-test.sh tells, else the tests skip.
class TDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* canExec = std::getenv("INFOSERVICE_CAN_EXEC");
    if (canExec && std::string(canExec) == "0") GTEST_SKIP() << "target programs cannot run here";
  }
  TTempRoot root_;
  TDaemon daemon_{root_};
};

}  // namespace integration

// What the benchmarks that talk to a daemon share: a daemon of their own in a temporary root,
// IPC servers on threads of their own (subscribers), and an observer that counts what it is
// told.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "ipc/TIpcProtocolDispatcher.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "toi/IToiInformationObserver.h"
#include "toi/IToiNameService.h"
#include "toi/TNameServiceProtocol.h"
#include "toi/TToiInformationObserverDispatcher.h"

namespace bench {

// An IPC server on a thread of its own serving one object; Stop ends it.
template <typename TDispatcher, typename TImplementation>
class TServerThread final {
 public:
  explicit TServerThread(TImplementation& implementation) {
    std::promise<std::string> address;
    std::future<std::string> ready = address.get_future();
    thread_ = std::thread([this, &implementation, &address] {
      TEpollEventLoop loop;
      TIpcServer server(loop);
      const std::string object = server.CreateObject();
      TDispatcher dispatcher(server, object, implementation);
      loop_ = &loop;
      address.set_value(object);
      loop.Run();
    });
    address_ = ready.get();
  }
  ~TServerThread() {
    loop_.load()->Stop();
    thread_.join();
  }
  TServerThread(const TServerThread&) = delete;
  TServerThread& operator=(const TServerThread&) = delete;

  const std::string& GetAddress() const { return address_; }

 private:
  std::thread thread_;
  std::atomic<TEpollEventLoop*> loop_{nullptr};
  std::string address_;
};

// The far end of the raw round trip: a lookup that answers at once.
class TEchoNameService final : public IToiNameService {
 public:
  void RegisterObject(const std::string&, const std::string&) override {}
  void LookupObject(const std::string& name, std::string& address) override { address = name; }
};

// The echo server runs in a process of its own, like the daemon, so that the raw round trip
// pays the same process switches as a call to the daemon. Fork it before any thread exists.
inline TChildProcess StartEchoServer() {
  return TChildProcess("echo server", [](TUniqueFd output) {
    TEchoNameService echo;
    TEpollEventLoop loop;
    TIpcServer server(loop);
    const std::string address = server.CreateObject();
    TIpcProtocolDispatcher<TNameServiceProtocol> dispatcher(server, address, echo);
    Announce(std::move(output), address);
    RunUntilTerminated(loop);
  });
}

class TCountingObserver final : public IToiInformationObserver {
 public:
  void OnObjectsChanged(const TStringList& names) override { count_ += names.size(); }
  void OnObjectsRemoved(const TStringList& names) override { count_ += names.size(); }
  size_t GetCount() const { return count_; }

 private:
  std::atomic<size_t> count_{0};
};
using TObserverServer = TServerThread<TToiInformationObserverDispatcher, TCountingObserver>;

// Waits until the observer counted `count` names; gives up when none arrived for a second
// (the daemon drops what a full per-subscriber queue cannot take) or after `limit`.
inline bool WaitForCount(const TCountingObserver& observer, size_t count,
                         std::chrono::seconds limit) {
  const TClock::time_point end = TClock::now() + limit;
  TClock::time_point lastProgress = TClock::now();
  size_t seen = observer.GetCount();
  while (seen < count && TClock::now() < end &&
         TClock::now() - lastProgress < std::chrono::seconds(1)) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (observer.GetCount() != seen) {
      seen = observer.GetCount();
      lastProgress = TClock::now();
    }
  }
  return observer.GetCount() >= count;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// --- a daemon of our own ---------------------------------------------------------------------

class TOwnDaemon final {
 public:
  // extraArguments follow the daemon's standard ones, with "{root}" at their start replaced by
  // the daemon's root; prepare(root) runs before the start, to put files into that root.
  explicit TOwnDaemon(const std::vector<std::string>& extraArguments = {},
                      const std::function<void(const std::string&)>& prepare = {}) {
    char pattern[] = "/tmp/infoservice-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw TException(ErrnoMessage("mkdtemp", errno));
    root_ = pattern;
    mkdir((root_ + "/etc").c_str(), 0755);
    std::ofstream(root_ + "/etc/ial_token_value_dictionary.xml") << "<Objects></Objects>\n";
    setenv("INFOSERVICE_ROOT", root_.c_str(), 1);
    if (prepare) prepare(root_);
    const std::string addressFile = root_ + "/address";
    const std::string program = ProgramDirectory() + "/../infoservice";
    const std::string log = root_ + "/infoservice.log";
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      std::vector<const char*> arguments = {program.c_str(), "-s", "-t", "-i", addressFile.c_str()};
      std::vector<std::string> extra = extraArguments;
      for (std::string& argument : extra) {
        if (argument.rfind("{root}", 0) == 0) argument.replace(0, 6, root_);
        arguments.push_back(argument.c_str());
      }
      arguments.push_back(nullptr);
      execv(program.c_str(), const_cast<char* const*>(arguments.data()));
      _exit(127);
    }
    const TClock::time_point end = TClock::now() + std::chrono::seconds(20);
    while ((address_ = ReadAll(addressFile)).empty() && TClock::now() < end &&
           waitpid(pid_, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (address_.empty()) throw TException("the daemon " + program + " did not start");
  }
  ~TOwnDaemon() {
    kill(pid_, SIGHUP);
    waitpid(pid_, nullptr, 0);
    nftw(
        root_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TOwnDaemon(const TOwnDaemon&) = delete;
  TOwnDaemon& operator=(const TOwnDaemon&) = delete;

  const std::string& GetAddress() const { return address_; }
  pid_t GetPid() const { return pid_; }
  // Where the daemon's standard output and error go.
  std::string GetLogPath() const { return root_ + "/infoservice.log"; }

 private:
  static std::string ProgramDirectory() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string self(path, static_cast<size_t>(length));
    return self.substr(0, self.rfind('/'));
  }

  std::string root_;
  std::string address_;
  pid_t pid_ = -1;
};

}  // namespace bench

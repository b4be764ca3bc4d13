// Starts the real platform-simulator and plays a component and an application observer
// against it: registration, the life-cycle calls it makes on command, and its log.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/IPlatformComponent.h"
#include "platform/IToiApplicationObserver.h"
#include "platform/TApplicationServiceCaller.h"
#include "platform/TEpollEventLoop.h"
#include "platform/TIpcClient.h"
#include "platform/TIpcServer.h"
#include "platform/TNameServiceCaller.h"
#include "platform/TPlatformComponentDispatcher.h"
#include "platform/TPlatformServiceCaller.h"
#include "platform/TToiApplicationObserverDispatcher.h"
#include "service/TException.h"
#include "tests/platform/TIpcTestSupport.h"

namespace {

// The simulator as a child process with its standard input and output on pipes.
class TSimulatorProcess final {
 public:
  explicit TSimulatorProcess(const std::string& addressFile) {
    int input[2];
    int output[2];
    if (pipe(input) != 0 || pipe(output) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(input[0], 0);
      dup2(output[1], 1);
      close(input[1]);
      close(output[0]);
      const std::string program = INFOSERVICE_PLATFORM_SIMULATOR_PATH;
      execl(program.c_str(), "platform-simulator", "-a", addressFile.c_str(), nullptr);
      _exit(127);
    }
    close(input[0]);
    close(output[1]);
    stdin_ = input[1];
    stdout_ = output[0];
  }
  ~TSimulatorProcess() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    close(stdout_);
  }

  void Send(const std::string& command) {
    const std::string line = command + "\n";
    ASSERT_EQ(write(stdin_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }
  // The next output line beginning with prefix; empty after 10 s without one.
  std::string WaitForLine(const std::string& prefix) {
    for (int reads = 0; reads < 1000; ++reads) {
      for (size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        log_.push_back(line);
        if (line.rfind(prefix, 0) == 0) return line;
      }
      pollfd ready{stdout_, POLLIN, 0};
      if (poll(&ready, 1, 10000) <= 0) return "";
      char chunk[4096];
      const ssize_t got = read(stdout_, chunk, sizeof chunk);
      if (got <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(got));
    }
    return "";
  }
  // Tells it to quit and waits; the exit status.
  int Quit() {
    Send("quit");
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
  std::vector<std::string> log_;
};

class TRecordingComponent final : public IPlatformComponent, public IToiApplicationObserver {
 public:
  std::vector<std::string> calls;
  void OnLoad() override { calls.push_back("OnLoad"); }
  void OnUnload(bool flag) override { calls.push_back(flag ? "OnUnload 1" : "OnUnload 0"); }
  void OnStandbyChanged() override { calls.push_back("OnStandbyChanged"); }
  void Ping() override { calls.push_back("Ping"); }
  void OnStateChanged(const TApplicationStateInfoList& infos) override {
    std::string text = "OnStateChanged";
    for (const auto& info : infos) {
      text += " " + std::to_string(info.instanceId) + ":" + std::to_string(info.state);
    }
    calls.push_back(text);
  }
};

TEST(PlatformSimulatorTest, ServesRegistrationAndCallsRegisteredComponentOnCommand) {
  TTemporaryRoot root;
  const std::string addressFile = root.Path() + "/ns.addr";
  TSimulatorProcess simulator(addressFile);
  const std::string announced = simulator.WaitForLine("NAMESERVICE_ADDRESS=");
  ASSERT_FALSE(announced.empty());
  const std::string nameService = announced.substr(announced.find('=') + 1);
  std::ifstream file(addressFile);
  std::stringstream written;
  written << file.rdbuf();
  EXPECT_EQ(written.str(), nameService);
  EXPECT_TRUE(TCIpcClient_ValidateAddress(nameService));

  TIpcClient client;
  TIpcServer server;
  TRecordingComponent component;
  const std::string componentAddress = server.CreateObject();
  const std::string observerAddress = server.CreateObject();
  TPlatformComponentDispatcher componentDispatcher(server, componentAddress, component);
  TToiApplicationObserverDispatcher observerDispatcher(server, observerAddress, component);

  TNameServiceCaller names(&client, nameService);
  std::string platformAddress;
  std::string applicationAddress;
  names.LookupObject("PlatformService", platformAddress);
  names.LookupObject("ApplicationService", applicationAddress);
  try {
    std::string ignored;
    names.LookupObject("NoSuchService", ignored);
    FAIL() << "no exception";
  } catch (const TRemoteException& error) {
    EXPECT_EQ(error.GetCode(), 201);
  }
  names.RegisterObject("InformationService", componentAddress);
  TPlatformServiceCaller platform(&client, platformAddress);
  TApplicationServiceCaller application(&client, applicationAddress);
  platform.RegisterComponent(12, componentAddress);
  application.RegisterService(observerAddress);
  EXPECT_FALSE(simulator.WaitForLine("call RegisterService " + observerAddress).empty());

  simulator.Send("ping");
  simulator.Send("unload 1");
  simulator.Send("state 5:7,6:3");
  auto& loop = static_cast<TEpollEventLoop&>(server.GetEventLoop());
  for (int pass = 0; pass < 100 && component.calls.size() < 3; ++pass) loop.RunOnce(100);
  EXPECT_EQ(component.calls,
            (std::vector<std::string>{"Ping", "OnUnload 1", "OnStateChanged 5:7 6:3"}));

  platform.ReportPing(12);
  platform.UnloadDone(12);
  application.StartInstance(6);
  application.ReleaseInstance(5);
  EXPECT_FALSE(simulator.WaitForLine("call ReportPing 12").empty());
  EXPECT_FALSE(simulator.WaitForLine("call UnloadDone 12").empty());
  EXPECT_FALSE(simulator.WaitForLine("call StartInstance 6").empty());
  EXPECT_FALSE(simulator.WaitForLine("call ReleaseInstance 5").empty());
  EXPECT_EQ(simulator.Quit(), 0);
}

}  // namespace

// The infoservice daemon: reads its command line, builds the objects that live for the whole
// process, assembles the adapters in their priority order (AdapterAssembly), makes the service
// known and serves until a stop signal (SIGHUP, SIGTERM or SIGINT; ServeService), and shuts down
// in order. Exit code 0 after a normal stop and for -h; 1 for a bad option, when an exception
// ended the service, and for a stop signal before the service exists.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "adapters/TManagementMonitor.h"
#include "base/TException.h"
#include "base/TLogTracker.h"
#include "base/TStderrTracker.h"
#include "base/TTracker.h"
#include "daemon/AdapterAssembly.h"
#include "daemon/ServeService.h"
#include "daemon/TCommandLine.h"
#include "daemon/TPlatformRegistration.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/RootPath.h"
#include "os/TEpollEventLoop.h"
#include "service/TAccessPolicy.h"
#include "service/TInformationService.h"
#include "service/TServiceObjectReader.h"
#include "service/TSubscriptionList.h"
#include "translation/TIalTokenValueDictionary.h"

namespace {

constexpr TTracker::TLevel kTraceLevel = 6;
constexpr int kLogFacility = 4;

// What the stop handler reaches: the loop once the service exists. Lock-free atomics, so
// reading them is safe in a handler.
std::atomic<TEpollEventLoop*> g_loop{nullptr};
std::atomic<bool> g_shuttingDown{false};
static_assert(std::atomic<TEpollEventLoop*>::is_always_lock_free, "the handler reads g_loop");

// Only async-signal-safe work here: the loop's Stop() (which only sets a flag and wakes the
// loop) or _exit. Once the shutdown has begun, a further stop signal is ignored: the adapters
// are flushing their pending writes, and cutting that short would lose settings.
void OnStopSignal(int) {
  if (TEpollEventLoop* loop = g_loop.load()) {
    loop->Stop();
  } else if (!g_shuttingDown.load()) {
    _exit(1);
  }
}

// The hang-up signal is the platform's stop; a box's init stops processes with SIGTERM and a
// person at a terminal with Ctrl-C (SIGINT). All three take the same orderly way out, so a
// change still waiting for its write delay reaches the flash whichever one arrives. Each
// handler blocks the other two, so one stop is never interrupted by another.
void InstallStopHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int stop : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&action.sa_mask, stop);
  action.sa_flags = SA_RESTART;
  for (int stop : {SIGHUP, SIGTERM, SIGINT}) sigaction(stop, &action, nullptr);
  // A write past a file-size limit must fail with EFBIG, so the adapter can answer 207 and
  // keep the previous file, instead of ending the daemon and losing what it had not written.
  signal(SIGXFSZ, SIG_IGN);
  // A client's file may be a FIFO or pipe whose reader has gone: the write must fail with
  // EPIPE and be answered with 207, not end the daemon.
  signal(SIGPIPE, SIG_IGN);
}

std::unique_ptr<TTracker> CreateTracker(bool standalone) {
  if (standalone) return std::make_unique<TStderrTracker>(kTraceLevel, true);
  return std::make_unique<TLogTracker>(kTraceLevel, kLogFacility);
}

// Everything from the assembly to the end of serving; the result is the exit code. A stop signal
// that came before the loop runs makes Run return at once. The served objects end with this
// function, so no call reaches the service while it shuts down.
int Serve(TInformationService& service, IInformationObjectReader& reader,
          TPlatformRegistration& platform, IIpcServer& server, const TCommandLine& options,
          TIalTokenValueDictionary& dictionary, TEpollEventLoop& loop) {
  TTracker* tracker = TTracker::GetProcessTracker();
  try {
    AddAdapters(service, options, dictionary, &loop);
    // Starts the management adapter when cfg.ip.rmtsource is reported.
    service.AddMonitor(std::make_unique<TManagementMonitor>(service, reader, loop));
    const TServedObjects served =
        ServeService(service, platform, server, options.standalone, options.ipcAddressFile);
    loop.Run();
    return 0;
  } catch (const TException& exception) {
    tracker->Fatal("Exception: %s", exception.GetText());
  } catch (...) {
    tracker->Fatal("Unknown exception");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  InstallStopHandlers();

  TCommandLine options;
  switch (options.Parse(argc, argv)) {
    case TCommandLine::TResult::eHelp:
      return 0;
    case TCommandLine::TResult::eBadOption:
      return 1;
    case TCommandLine::TResult::eRun:
      break;
  }

  std::unique_ptr<TTracker> tracker = CreateTracker(options.standalone);
  TTracker::SetProcessTracker(tracker.get());

  // A policy that cannot be used is the integrator's mistake: say where, and do not start
  // (a daemon without its policy would let every application do everything).
  std::unique_ptr<TAccessPolicy> policy;
  if (!options.policyFile.empty()) {
    try {
      policy = std::make_unique<TAccessPolicy>(TAccessPolicy::Load(options.policyFile, geteuid()));
    } catch (const TException& error) {
      tracker->Error("infoservice: %s", error.GetText());
      TTracker::SetProcessTracker(nullptr);
      return 1;
    }
  }

  // The one loop of the process; everything below registers on it and goes before it.
  TEpollEventLoop loop;
  // Traces that input triggers are limited on the loop's clock (the process-wide real one,
  // which outlives the tracker); start-up's own traces are written once and pass.
  tracker->LimitRate(&loop.GetClock());
  TIpcClient client(loop);
  TCIpcClient_Init(&client);
  auto subscriptions = std::make_unique<TSubscriptionList>(&client);
  // Outlives the service, whose adapters keep references to it.
  auto dictionary =
      std::make_unique<TIalTokenValueDictionary>(RootPath("/etc/ial_token_value_dictionary.xml"));
  auto service = std::make_unique<TInformationService>(options.aliasFile, subscriptions.get());
  // Read by the management monitor, which the service owns and deletes first.
  TServiceObjectReader reader(*service);
  // Standalone, no platform hands out addresses, so subscribers may use any.
  service->SetAddressCheck(!options.standalone);
  auto platform = std::make_unique<TPlatformRegistration>(&client, *subscriptions, *service);
  auto server = std::make_unique<TIpcServer>(loop);
  server->SetMaxConnectionsPerPeer(static_cast<size_t>(std::max(options.maxConnectionsPerPeer, 1)));
  service->SetAccess(server.get(), policy.get());
  TInformationService* served = service.get();
  subscriptions->SetAccess(server.get(),
                           [served](const TPeerCredentials& subscriber, const std::string& name) {
                             return served->MayRead(subscriber, name);
                           });
  g_loop.store(&loop);

  tracker->Trace("Starting service");
  const int exitCode = Serve(*service, reader, *platform, *server, options, *dictionary, loop);
  if (exitCode == 0) tracker->Trace("Shutting down");

  g_shuttingDown.store(true);
  g_loop.store(nullptr);
  service.reset();
  platform.reset();
  server.reset();
  subscriptions.reset();
  TCIpcClient_CleanUp(&client);
  dictionary.reset();
  policy.reset();
  TTracker::SetProcessTracker(nullptr);
  return exitCode;
}

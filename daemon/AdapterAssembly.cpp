#include "daemon/AdapterAssembly.h"

#include <cstdint>
#include <memory>

#include "adapters/TCorvantelaSyslogAdapter.h"
#include "adapters/TDefaultAdapter.h"
#include "adapters/TFlashFsAdapter.h"
#include "adapters/TFlashUserAdapter.h"
#include "adapters/TIalFileAdapter.h"
#include "adapters/TInfocastAdapter.h"
#include "adapters/TLastKeyAdapter.h"
#include "adapters/TOsAdapter.h"
#include "adapters/TProcProdAdapter.h"
#include "adapters/TVolatileAdapter.h"
#include "base/TTracker.h"
#include "os/RootPath.h"

void AddAdapters(TInformationService& service, const TCommandLine& options,
                 TIalTokenValueDictionary& dictionary, IIOEventLoop* loop) {
  TTracker* tracker = TTracker::GetProcessTracker();
  service.AddAdapter(std::make_unique<TCorvantelaSyslogAdapter>(&service));
  service.AddAdapter(std::make_unique<TIalFileAdapter>(RootPath("/flash2/information/"),
                                                       std::vector<std::string>{"store."},
                                                       IInformationAdapter::TStorageType(0)));
  service.AddAdapter(std::make_unique<TIalFileAdapter>(RootPath("/tmp2/information/"),
                                                       std::vector<std::string>{"tmp.", "_tmp."},
                                                       IInformationAdapter::TStorageType(1)));
  service.AddAdapter(std::make_unique<TVolatileAdapter>());
  service.AddAdapter(std::make_unique<TFlashUserAdapter>(
      options.hostEnvironment, static_cast<uint32_t>(options.writeDelay), loop));
  service.AddAdapter(std::make_unique<TProcProdAdapter>(&service, options.hostEnvironment,
                                                        RootPath("/proc/qboxparam")));
  service.AddAdapter(std::make_unique<TFlashFsAdapter>(
      options.settingsFile, options.backupFile, static_cast<uint32_t>(options.writeDelay),
      static_cast<uint32_t>(options.writeLimit), &service, &dictionary, loop));
  tracker->Trace("%s", options.opchMode ? "Using opch mode." : "Using normal mode.");
  // -n reaches the channels as given; each keeps its buffer within what a datagram can be.
  service.AddAdapter(std::make_unique<TInfocastAdapter>(
      options.metaChannelAddress, options.metaChannelFile,
      static_cast<unsigned int>(options.packetBufferSize),
      options.opchMode ? TInfocastChannel::Opch : TInfocastChannel::Normal, &service, &service,
      &dictionary, loop));
  service.AddAdapter(std::make_unique<TOsAdapter>(options.hostEnvironment));
  service.AddAdapter(std::make_unique<TLastKeyAdapter>(options.hostEnvironment));
  service.AddAdapter(std::make_unique<TDefaultAdapter>(options.defaultsFile));
}

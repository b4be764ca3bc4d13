#include "daemon/AdapterAssembly.h"

#include <cstdint>

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
  service.AddAdapter(new TCorvantelaSyslogAdapter(&service));
  service.AddAdapter(new TIalFileAdapter(RootPath("/flash2/information/"), {"store."},
                                         IInformationAdapter::TStorageType(0)));
  service.AddAdapter(new TIalFileAdapter(RootPath("/tmp2/information/"), {"tmp.", "_tmp."},
                                         IInformationAdapter::TStorageType(1)));
  service.AddAdapter(new TVolatileAdapter());
  service.AddAdapter(new TFlashUserAdapter(options.hostEnvironment,
                                           static_cast<uint32_t>(options.writeDelay), loop));
  service.AddAdapter(
      new TProcProdAdapter(&service, options.hostEnvironment, RootPath("/proc/qboxparam")));
  service.AddAdapter(new TFlashFsAdapter(
      options.settingsFile, options.backupFile, static_cast<uint32_t>(options.writeDelay),
      static_cast<uint32_t>(options.writeLimit), &service, &dictionary, loop));
  tracker->Trace("%s", options.opchMode ? "Using opch mode." : "Using normal mode.");
  // -n reaches the channels as given; each keeps its buffer within what a datagram can be.
  service.AddAdapter(
      new TInfocastAdapter(options.metaChannelAddress, options.metaChannelFile,
                           static_cast<unsigned int>(options.packetBufferSize),
                           options.opchMode ? TInfocastChannel::Opch : TInfocastChannel::Normal,
                           &service, &service, &dictionary, loop));
  service.AddAdapter(new TOsAdapter(options.hostEnvironment));
  service.AddAdapter(new TLastKeyAdapter(options.hostEnvironment));
  service.AddAdapter(new TDefaultAdapter(options.defaultsFile));
}

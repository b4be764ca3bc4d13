// libFuzzer target for the Infocast configuration texts a head-end sends: no text may crash
// either parser, and what they make stays within the adapter's bounds. The input is parsed
// as XML, as an extended text carried by an unconnected channel, and entry by entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "adapters/TInfocastAdapter.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"

namespace {

class TSilentTracker final : public TTracker {
 public:
  TSilentTracker() : TTracker(6) {}

 protected:
  void Output(int, const char*, va_list) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TSilentTracker tracker;
  TTracker::SetProcessTracker(&tracker);
  const std::string text(reinterpret_cast<const char*>(data), size);
  TManualClock clock;
  TEpollEventLoop loop(clock);
  TSubscriptionList subscriptions(
      nullptr, [](const std::string&, TSubscriptionList::TNotification, const TStringList&) {});
  TInformationService service("", &subscriptions);
  TInfocastAdapter adapter("", "", 1600, TInfocastChannel::Opch, &service, &service, nullptr, &loop,
                           clock);
  TInfocastDirectory root("root", tracker);
  adapter.ParseXMLConfiguration(text, &root);
  TInfocastChannel* carrier =
      adapter.AddNewChannel("239.1.1.1", 5000, TInfocastChannel::Persistent, 0, 0);
  adapter.ParseExtendedConfiguration(text, &root, carrier);
  if (adapter.GetChannels().size() > TInfocastAdapter::kMaxChannels) std::abort();
  if (adapter.GetObjectRecords().size() > TInfocastAdapter::kMaxConfiguredObjects) std::abort();
  std::string line = text;
  int type = 0;
  int port = 0;
  std::string name;
  std::string address;
  adapter.ParseExtendedConfigurationLine(line, &type, &name, &address, &port);
  return 0;
}

// Feeds arbitrary bytes to the datagram engine as a run of datagrams, under either channel's
// rules, with an owner that wants every name and a box whose filters read real values: the
// libFuzzer target's input (run by scripts/fuzz.sh), and the rig the engine test uses. Input
// layout: byte 0 picks the rules (even: Infocast, odd: management); then records of a 2-byte
// big-endian length and that many bytes (the last record takes what is left).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "infocast/TInfocastDatagramEngine.h"
#include "infocast/TManagementChannel.h"
#include "os/TManualClock.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace test {

class TNullTracker final : public TTracker {
 public:
  TNullTracker() : TTracker(6) {}

 protected:
  void Output(int, const char*, va_list) override {}
};

class TAcceptingOwner final : public IInfocastDatagramOwner {
 public:
  TAcceptingOwner(bool management, TTracker& tracker)
      : management_(management), tracker_(tracker) {}
  bool RoutePacket(const TInfocastHeader& header, size_t, TInfocastRoute& route) override {
    // The management channel's own routing, so its type check is fuzzed with the engine.
    if (management_) return TManagementChannel::RouteManagementPacket(header, route, tracker_);
    route.name = header.GetName();
    route.configuration = header.type == TInfocastHeader::kTypeDirectory;
    route.directory = route.configuration;
    route.evaluateDynamicHeader = (header.type & 0xFF) == 1;
    route.checkType = (header.type & 0x0100) != 0;
    route.registeredType = 1;
    return true;
  }
  bool IsUnchangedObject(const std::string&, uint16_t, uint32_t signature) override {
    return signature == 0x12345678u;
  }
  void OnObjectAccepted(const std::string&, bool, uint16_t, uint32_t) override {}

 private:
  bool management_;
  TTracker& tracker_;
};

// The engine under either rule set; traces go to `recording` when given, else nowhere.
struct TEngineRig {
  explicit TEngineRig(bool management, TTracker* recording = nullptr)
      : tracker(recording ? *recording : silent),
        owner(management, tracker),
        filters(management ? "TManagementChannel: " : "TInfocastChannel: ", objects, clock,
                tracker),
        engine(management ? TInfocastDatagramEngine::kManagementRules
                          : TInfocastDatagramEngine::kInfocastRules,
               owner, filters, tracker) {
    objects.values = {{"var.ip.eth0.addr", "10.1.2.3"},
                      {"cfg._userfilter", "u"},
                      {"const.hw.manufacturer", "Acme"},
                      {"const.hw.productname", "Box"}};
    engine.SetCallback(&callback);
  }
  void Feed(const std::string& datagram) {
    engine.Process(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(), 1600);
  }
  TFakeObjects objects;
  TManualClock clock;
  TNullTracker silent;
  TTracker& tracker;
  TAcceptingOwner owner;
  TRecordingOwner callback;
  TInfocastFilters filters;
  TInfocastDatagramEngine engine;
};

constexpr size_t kFuzzCapacity = 1600;

// Returns the largest assembly seen, which must stay within the engine's bound.
inline size_t ConsumeInfocastDatagrams(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TEngineRig rig(data[0] & 1);
  size_t largest = 0;
  size_t offset = 1;
  while (offset < size) {
    size_t length = size - offset;
    if (length >= 2) {
      const size_t announced = (size_t{data[offset]} << 8) | data[offset + 1];
      offset += 2;
      length = std::min(announced, size - offset);
    }
    // Longer than the buffer: the channel passes the buffer's bytes and the real length.
    rig.engine.Process(data + offset, length, kFuzzCapacity);
    offset += length;
    largest = std::max(largest, rig.engine.GetAssembly().size());
    rig.callback.calls.clear();
  }
  return largest;
}

}  // namespace test

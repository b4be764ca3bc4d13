// Plays a TCarouselPlan: every channel repeats its objects, one after the other, the packets
// of one object back to back (a box assembles one object per channel at a time), each channel
// paced to its bitrate by a token bucket one batch deep. Owns one UDP socket per channel and
// the channels' prepared datagrams; runs on the loop thread of the event loop it is given,
// which must outlive it.
//
// Pacing: a channel earns rate bits per second of credit, capped at one batch of full-size
// datagrams, and sends a datagram only when the credit covers it, up to one batch per
// sendmmsg. Over any interval it therefore sends at most rate x interval plus one batch. A
// timer wakes the channel every quarter of the time one batch takes (1 to 20 ms); the
// credit comes from the clock, not from the timer, so late wake-ups cost no rate. Rate 0
// sends as fast as the socket takes datagrams, one batch per writable event.
//
// Changes: Apply prepares new datagrams at once, but a running channel takes them only at
// the start of its next cycle, so a box never sees a cycle cut in two. Channels that left the
// plan stop at once; new ones start at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "headend/CarouselPlan.h"
#include "os/IClock.h"
#include "os/IIOEventLoop.h"

class TCarouselSender;

class TCarousel final {
 public:
  struct TSettings {
    int ttl = 0;            // multicast TTL; 0 keeps multicast on this machine
    std::string interface;  // dotted address multicast leaves from; empty: by route
    size_t datagramSize = 1400;
    size_t batch = 32;  // datagrams per sendmmsg, and the bucket's depth
  };

  struct TChannelStats {
    std::string key;          // ADDRESS:PORT
    uint64_t cycles = 0;      // cycles completed
    uint64_t datagrams = 0;   // datagrams sent
    uint64_t bytes = 0;       // bytes sent (UDP payload)
    int64_t lastCycleMs = 0;  // duration of the last completed cycle
    size_t largestBatch = 0;  // most datagrams handed over in one sendmmsg
  };

  // Called when a channel is about to start a cycle, before it looks for new datagrams: the
  // place to pick up changes. It may call Apply.
  using TCycleHook = std::function<void(const std::string& key)>;

  TCarousel(IIOEventLoop& loop, IClock& clock, const TSettings& settings);
  ~TCarousel();
  TCarousel(const TCarousel&) = delete;
  TCarousel& operator=(const TCarousel&) = delete;

  // Prepares the plan's datagrams and sockets. Throws TException (a unicast destination
  // outside 127.0.0.0/8 with TTL 0, a socket that cannot be set up, an object the packetizer
  // refuses) before changing anything.
  void Apply(const TCarouselPlan& plan);
  void SetCycleHook(TCycleHook hook) { hook_ = std::move(hook); }

  std::vector<TChannelStats> GetStats() const;

 private:
  friend class TCarouselSender;
  void OnCycleStart(const std::string& key);

  IIOEventLoop& loop_;
  IClock& clock_;
  TSettings settings_;
  TCycleHook hook_;
  std::map<std::string, std::unique_ptr<TCarouselSender>> senders_;
  // Stopped senders wait here, because one of them may be the caller of the hook that
  // stopped it; they go at the next Apply.
  std::vector<std::unique_ptr<TCarouselSender>> retired_;
};

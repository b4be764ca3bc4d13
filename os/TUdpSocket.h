// Owner of one non-blocking IPv4 UDP socket bound to an address and port: what a multicast
// receiver (an Infocast channel, the management channel) reads its datagrams from. It joins
// and leaves groups, sizes its receive buffer and receives one datagram at a time without
// waiting, so that it can sit in the event loop. Nothing here ends the process: the
// constructor throws, everything else reports through its result and errno. Move-only; used
// on the loop thread.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "os/TUniqueFd.h"

class TUdpSocket final {
 public:
  // The set-up step that failed, for callers that report each step in its own words.
  enum class TSetupStep { kAddress, kOpen, kReuseAddress, kBind, kReadName };
  struct TSetupFailure {
    TSetupStep step = TSetupStep::kAddress;
    int error = 0;  // the errno of the step (EINVAL for an address that is not dotted IPv4)
  };

  // Opens the socket with SO_REUSEADDR (several receivers of one port, and a daemon restarted
  // while the old socket lingers, must bind together) and binds it to address (dotted IPv4;
  // "0.0.0.0" for every interface, which a multicast receiver needs to see group traffic)
  // and port (0: a free one, see GetPort). Throws TVerboseException (code: the errno, EINVAL
  // for an address that is not dotted IPv4) naming the address.
  TUdpSocket(const std::string& address, uint16_t port);
  // The same set-up without throwing: returns null and fills failure when a step fails, for
  // receivers whose address comes from the network and that retry instead of failing.
  static std::unique_ptr<TUdpSocket> TryOpen(const std::string& address, uint16_t port,
                                             TSetupFailure& failure);

  int Get() const { return socket_.Get(); }
  // The port bound to, in host order.
  uint16_t GetPort() const { return port_; }

  // Joins or leaves the multicast group (dotted IPv4) on the interface with the given address
  // ("0.0.0.0": the kernel picks it by route). False with errno set on failure (EINVAL for a
  // text that is not an address or a group that is not multicast, EADDRNOTAVAIL for leaving
  // a group not joined).
  bool JoinGroup(const std::string& group, const std::string& interface);
  bool LeaveGroup(const std::string& group, const std::string& interface);

  // Asks for a receive buffer of `bytes` and returns what the kernel gave (Linux doubles the
  // request for its own bookkeeping and caps it at net.core.rmem_max, a cap that a privileged
  // process passes with SO_RCVBUFFORCE, tried when the cap bites), or -1 with errno set.
  int SetReceiveBuffer(int bytes);

  // Takes one waiting datagram into buffer. Returns the bytes stored (0 for an empty
  // datagram), or -1 with errno set: EAGAIN when nothing is waiting. A datagram longer than
  // capacity is cut to it and *truncated set; the rest is lost, as UDP has it. sender, when
  // given, receives the source address.
  ssize_t Receive(void* buffer, size_t capacity, bool* truncated = nullptr,
                  sockaddr_in* sender = nullptr);

 private:
  TUdpSocket() = default;
  // Runs every set-up step; false with failure filled at the first that fails.
  bool Setup(const std::string& address, uint16_t port, TSetupFailure& failure);
  bool ChangeMembership(int option, const std::string& group, const std::string& interface);

  TUniqueFd socket_;
  uint16_t port_ = 0;
};

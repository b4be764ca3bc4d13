// The management channel: one UDP socket bound to the address and port of the remote
// management source (a multicast group, or a unicast address of this box at the cost of one
// failed join), from which every information object the source pushes is accepted. It owns
// the socket, its receive buffer (allocated once) and the reassembly (through the shared
// datagram engine, under its management rules); complete objects go to the callback, the
// management adapter. Runs on the loop thread; the reader, loop, clock and tracker must
// outlive it.
//
// How it differs from an Infocast channel:
//   - opened once by Start, closed by Stop; no interval, timeout or join-retry timers;
//   - no registry of wanted objects, no statistics, no renaming, no alias translation;
//   - types 0x0001 and 0xC001 only, treated alike, both with their dynamic packet header;
//     any other type is "Object is of wrong type (%d)";
//   - the checksum comes before OnCompareObject; precoding 0x0003 is accepted and its 20
//     trailing bytes removed without verification;
//   - traces start "TManagementChannel: ".
// The address is client-settable (cfg.ip.rmtsource). One that is not dotted IPv4 is refused
// before a socket is made; one that this box cannot bind is an error trace. Either leaves the
// channel closed until the next Start, and the daemon serving.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/TTracker.h"
#include "infocast/IInfocastChannelCallback.h"
#include "infocast/IInfocastDatagramOwner.h"
#include "infocast/IInformationObjectReader.h"
#include "infocast/TInfocastDatagramEngine.h"
#include "infocast/TInfocastFilters.h"
#include "os/IClock.h"
#include "os/IIOEventLoop.h"
#include "os/TUdpSocket.h"

class TManagementChannel final : public IIOEventHandler,
                                 public IIOTimeoutHandler,
                                 private IInfocastDatagramOwner {
 public:
  static constexpr uint16_t kTypeManagementObject = 0x0001;
  static constexpr uint16_t kTypeManagementObjectExtended = 0xC001;
  // The receive buffer is the maximum packet size, kept between a header and the largest UDP
  // datagram.
  static constexpr unsigned int kMinPacketSize = TInfocastHeader::kSize;
  static constexpr unsigned int kMaxPacketSize = 65536;

  // Stores the arguments; opens nothing. timeout is kept but drives nothing.
  TManagementChannel(const std::string& address, int port, unsigned int timeout,
                     unsigned int maxPacketSize, IInformationObjectReader& reader,
                     IIOEventLoop& loop, const IClock& clock, TTracker& tracker);
  ~TManagementChannel() override;

  // The receiver of complete objects; set before Start.
  void SetCallback(IInfocastChannelCallback* callback);

  void Start() { Connect(); }
  void Stop() { Disconnect(); }
  // (Re)opens the socket, joins the group and registers with the loop. A refused address or
  // a failed bind is traced as an error and leaves the channel closed; a failed join only
  // traced.
  void Connect();
  // Unregisters, leaves the group and closes; nothing when closed.
  void Disconnect();
  bool IsConnected() const { return socket_ != nullptr; }

  const std::string& GetAddress() const { return address_; }
  int GetPort() const { return port_; }
  unsigned int GetTimeout() const { return timeout_; }
  const TInfocastFilters& GetFilters() const { return filters_; }

  // Reads an object of the box; a failure is traced "TManagementChannel: %s (%s)" and leaves
  // value as it was.
  void GetInformationObject(const std::string& name, std::string& value) const;

  // IIOEventHandler: reads and processes one datagram (both arguments are ignored). The
  // callback may stop this channel, but must not delete it, while this runs.
  void HandleEvent(int descriptor, unsigned int events) override;
  // IIOTimeoutHandler: the channel arms no timer; an id equal to its timer disconnects.
  void HandleTimeout(int identifier) override;
  void StopTimeoutTimer();

  // The routing of every management packet: the type check, and the name as received, with
  // the dynamic header evaluated. False (after the trace) drops the packet.
  static bool RouteManagementPacket(const TInfocastHeader& header, TInfocastRoute& route,
                                    TTracker& tracker);

 private:
  // IInfocastDatagramOwner
  bool RoutePacket(const TInfocastHeader& header, size_t length, TInfocastRoute& route) override;
  bool IsUnchangedObject(const std::string& name, uint16_t precoding, uint32_t signature) override;
  void OnObjectAccepted(const std::string& name, bool delivered, uint16_t precoding,
                        uint32_t signature) override;

  TTracker& tracker_;
  std::string address_;
  int port_;
  unsigned int timeout_;
  IIOEventLoop& loop_;
  TInfocastFilters filters_;
  TInfocastDatagramEngine engine_;
  std::unique_ptr<TUdpSocket> socket_;
  std::vector<uint8_t> buffer_;
  int timer_ = -1;
};

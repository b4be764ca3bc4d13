// One Infocast multicast channel: a UDP group (address and port) from which the box receives
// information objects. It owns its socket, the set of object names its owner wants from the
// group, the receive buffer (allocated once) and the reassembly (through the shared datagram
// engine), and three timers of the event loop. Complete, checked objects go to the owner's
// IInfocastChannelCallback. Runs on the loop thread; the loop, reader, translator, clock and
// tracker must outlive it.
//
// Connection types:
//   Persistent   connects on the first AddObject and stays connected.
//   Once         disconnects once every wanted object has been received (marked); a new
//                AddObject on the disconnected channel connects it again.
//   Reconnected  connects every `interval` seconds for at most `timeout` seconds, and earlier
//                disconnects when every wanted object was received in that window.
// A socket that cannot be opened or bound (an address from the network that this host cannot
// bind) and a group that cannot be joined are traced as errors and retried every
// kJoinRetryMs; the daemon keeps serving meanwhile.
//
// Packet names: in opch mode, type 0x0000 and 0xC000 packets named after the product
// identifier arrive as "_metachannel.infocastinfo" (other 0x0000 packets are dropped, other
// 0xC000 packets keep their name); in normal mode the type 0x0001 object "infocast2.conf"
// arrives as "_metachannel.infocast2.conf"; type 0x0002 for this product as
// "_metachannel.bootcastinfo" (others dropped); type 0x0007 as "_metachannel.utctime".
// Other type 0x0001 names go through the alias list. The product identifier is
// manufacturer "-" product name, "velmora" for an empty or "Velmora" manufacturer and
// "nm-box-rev-2" for an empty product name.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
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
#include "translation/INameTranslator.h"

class TInfocastChannel final : public IIOEventHandler,
                               public IIOTimeoutHandler,
                               private IInfocastDatagramOwner {
 public:
  enum TConnectionType { Persistent = 0, Reconnected = 1, Once = 2 };
  enum TMode { Opch = 0, Normal = 1 };

  // One wanted object.
  struct TObjectInfo {
    explicit TObjectInfo(unsigned int objectType) : type(objectType) {}
    unsigned int type;               // the object type the owner registered
    unsigned int lastPrecoding = 0;  // of the last delivered value
    unsigned int lastSignature = 0;
    bool marked = false;  // received since the marks were last cleared
  };

  static constexpr unsigned int kJoinRetryMs = 1000;
  // The receive buffer is the configured packet buffer size, kept within these bounds: no
  // datagram is shorter than its header, none longer than UDP allows.
  static constexpr unsigned int kMinPacketBufferSize = TInfocastHeader::kSize;
  static constexpr unsigned int kMaxPacketBufferSize = 65536;
  // Datagrams taken from the socket per read event at most.
  static constexpr unsigned int kMaxDatagramsPerEvent = 32;

  // Stores the arguments; does not connect.
  TInfocastChannel(const std::string& address, int port, TConnectionType type,
                   unsigned int interval, unsigned int timeout, unsigned int packetBufferSize,
                   TMode mode, IInformationObjectReader& reader, const INameTranslator& translator,
                   IIOEventLoop& loop, const IClock& clock, TTracker& tracker);
  ~TInfocastChannel() override;

  // The owner sets the callback before it adds the first object.
  void SetCallback(IInfocastChannelCallback* callback);

  // Wants name (replacing an earlier entry, whose signature is forgotten); connects a
  // disconnected channel and, for Reconnected, starts the interval and timeout timers.
  void AddObject(const std::string& name, unsigned int type);
  // Forgets name; a connected channel then checks whether everything wanted was received.
  void DropObject(const std::string& name);

  void Connect();
  void Disconnect();
  bool IsConnected() const { return socket_ != nullptr; }

  std::string GetAddress() const { return address_; }
  int GetPort() const { return port_; }
  // Seconds since construction, and the packets and bytes counted since.
  time_t GetTimeTotal() const;
  unsigned int GetTotalPackets() const { return totalPackets_; }
  unsigned int GetTotalBytes() const { return totalBytes_; }
  const std::string& GetProductIdentifier() const { return productIdentifier_; }
  const std::map<std::string, TObjectInfo>& GetObjects() const { return objects_; }
  const TInfocastFilters& GetFilters() const { return filters_; }

  // Reads an object of the box; a failure is traced "TInfocastChannel: %s (%s)" and leaves
  // value as it was.
  void GetInformationObject(const std::string& name, std::string& value) const;

  // IIOEventHandler: reads and processes the waiting datagrams, at most
  // kMaxDatagramsPerEvent (both arguments are ignored). The channel may be disconnected by
  // what a datagram completes; the rest then waits for the next connection.
  void HandleEvent(int descriptor, unsigned int events) override;
  // IIOTimeoutHandler: the interval, timeout and join retry timers.
  void HandleTimeout(int identifier) override;

  void StartIntervalTimer();
  void StopIntervalTimer();
  void StartTimeoutTimer();
  void StopTimeoutTimer();
  void UnmarkObjects();
  void CheckObjects();

 private:
  // IInfocastDatagramOwner
  bool RoutePacket(const TInfocastHeader& header, size_t length, TInfocastRoute& route) override;
  bool IsUnchangedObject(const std::string& name, uint16_t precoding, uint32_t signature) override;
  void OnObjectAccepted(const std::string& name, bool delivered, uint16_t precoding,
                        uint32_t signature) override;

  // Receives and processes one datagram; false when none was waiting or receiving failed.
  bool ReceiveOne();
  void ComputeProductIdentifier();
  void StartJoinRetryTimer();
  void StopTimer(int& identifier);

  TTracker& tracker_;
  std::string address_;
  int port_;
  TConnectionType connectionType_;
  unsigned int interval_;
  unsigned int timeout_;
  TMode mode_;
  const INameTranslator& translator_;
  IIOEventLoop& loop_;
  const IClock& clock_;
  TInfocastFilters filters_;
  TInfocastDatagramEngine engine_;
  std::map<std::string, TObjectInfo> objects_;
  std::unique_ptr<TUdpSocket> socket_;
  std::vector<uint8_t> buffer_;
  int intervalTimer_ = -1;
  int timeoutTimer_ = -1;
  int joinRetryTimer_ = -1;
  std::string productIdentifier_;
  time_t startTime_;
  unsigned int totalPackets_ = 0;
  unsigned int totalBytes_ = 0;
};

// Fakes around the receiving channels: the box's objects, an alias list, an owner that
// records what it is told, a hand-made datagram builder for faults the packetizer refuses to
// produce, and the fixture both channel tests share.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/TException.h"
#include "infocast/IInfocastChannelCallback.h"
#include "infocast/IInformationObjectReader.h"
#include "infocast/TInfocastHeader.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUdpSocket.h"
#include "tests/TestSupport.h"
#include "translation/INameTranslator.h"

namespace test {

// Sends one datagram from sender to port on 127.0.0.1 and runs the loop until a descriptor
// handled it. Loopback delivery is done when sendto returns; the bound keeps a lost datagram
// from hanging the test.
inline void SendAndServe(const TUdpSocket& sender, int port, const std::string& datagram,
                         TEpollEventLoop& loop) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::sendto(sender.Get(), datagram.data(), datagram.size(), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(datagram.size()));
  for (int pass = 0; pass < 10 && loop.RunOnce(0) == 0; ++pass) loop.RunOnce(100);
}

class TFakeObjects final : public IInformationObjectReader {
 public:
  std::string GetObject(const std::string& name) override {
    const auto found = values.find(name);
    if (found == values.end()) throw TUnknownObjectException("Unknown object");
    return found->second;
  }
  std::map<std::string, std::string> values;
};

class TFakeAliases final : public INameTranslator {
 public:
  bool HasAlias(const std::string& name) const override { return aliases.count(name) != 0; }
  std::string Translate(const std::string& name) const override {
    const auto found = aliases.find(name);
    return found == aliases.end() ? name : found->second;
  }
  std::map<std::string, std::string> aliases;
};

// Holds what it was given, so OnCompareObject says true for a value it already has.
class TRecordingOwner final : public IInfocastChannelCallback {
 public:
  struct TCall {
    std::string what;  // "compare", "object", "directory", "folder" (directory true)
    std::string name;
    std::string value;
  };
  bool OnCompareObject(const std::string& name, const std::string& value) override {
    calls.push_back({"compare", name, value});
    const auto found = held.find(name);
    return found != held.end() && found->second == value;
  }
  void OnObjectChanged(const std::string& name, const std::string& value) override {
    calls.push_back({"object", name, value});
    held[name] = value;
  }
  void OnDirectoryChanged(const std::string& name, const std::string& value,
                          bool directory) override {
    calls.push_back({directory ? "folder" : "directory", name, value});
    held[name] = value;
  }
  size_t Count(const std::string& what) const {
    size_t count = 0;
    for (const TCall& call : calls) count += call.what == what;
    return count;
  }
  std::vector<TCall> calls;
  std::map<std::string, std::string> held;
};

// One datagram from its fields: header, dynamic header bytes, payload (data and signature).
inline std::string MakeDatagram(uint16_t type, uint16_t precoding, uint32_t number, uint32_t count,
                                const std::string& name, uint16_t flags, const std::string& dynamic,
                                const std::string& payload) {
  TInfocastHeader header;
  header.type = type;
  header.precoding = precoding;
  header.packetNumber = number;
  header.packetCount = count;
  std::memcpy(header.name, name.data(), std::min(name.size(), TInfocastHeader::kNameSize));
  header.flags = flags;
  std::string datagram(TInfocastHeader::kSize, '\0');
  header.Encode(datagram.data());
  return datagram + dynamic + payload;
}

inline std::string BigEndian32(uint32_t value) {
  const uint32_t wire = htonl(value);
  return std::string(reinterpret_cast<const char*>(&wire), sizeof wire);
}

// A channel's surroundings: a sender socket on 127.0.0.1, a port nobody uses (the kernel picks
// it for a probe socket that is closed again), the loop on a manual clock, the box's objects,
// an owner that records and a recording tracker.
class TChannelTest : public ::testing::Test {
 protected:
  TChannelTest() : loop_(clock_), sender_("127.0.0.1", 0) {
    port_ = TUdpSocket("127.0.0.1", 0).GetPort();
  }
  void Send(const std::string& datagram) { SendAndServe(sender_, port_, datagram, loop_); }
  void Send(const std::vector<std::string>& datagrams) {
    for (const std::string& datagram : datagrams) Send(datagram);
  }
  void Advance(int64_t milliseconds) {
    clock_.Advance(milliseconds);
    loop_.RunOnce(0);
  }
  static std::vector<std::string> Object(const std::string& name, const std::string& value,
                                         uint16_t precoding = TInfocastHeader::kPrecodingCrc32,
                                         uint16_t type = 1, size_t maxSize = 1400) {
    return TInfocastPacketizer(type, precoding, name, maxSize).Packetize(value);
  }
  // Each faulty datagram is dropped with its error trace (nullptr: dropped silently), and
  // nothing is delivered.
  struct TFault {
    const char* label;
    std::string datagram;
    const char* trace;
  };
  void ExpectEachDropped(const std::vector<TFault>& faults) {
    for (const TFault& fault : faults) {
      tracker_.messages.clear();
      Send(fault.datagram);
      if (fault.trace) {
        EXPECT_TRUE(tracker_.Holds(TTracker::kError, fault.trace)) << fault.label;
      } else {
        EXPECT_FALSE(tracker_.Holds(TTracker::kError, "")) << fault.label;
      }
      EXPECT_EQ(owner_.Count("object"), 0u) << fault.label;
    }
  }
  TManualClock clock_;
  TEpollEventLoop loop_;
  TUdpSocket sender_;
  int port_ = 0;
  TFakeObjects objects_;
  TRecordingOwner owner_;
  TRecordingTracker tracker_;
};

}  // namespace test

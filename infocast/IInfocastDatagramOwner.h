// The decisions a receiving channel makes about a datagram that the shared datagram engine
// (TInfocastDatagramEngine) cannot make for it: which object a packet belongs to and whether
// the channel wants it, and the bookkeeping of delivered objects. The Infocast channel renames
// meta-channel objects, translates aliases and keeps its wanted objects here; the management
// channel only checks the type. Called on the loop thread from inside the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "infocast/TInfocastHeader.h"

// How the engine treats one packet, as the owner decided.
struct TInfocastRoute {
  // The name used for reassembly, lookup and every callback.
  std::string name;
  // Delivered through OnDirectoryChanged (with directory) instead of OnObjectChanged.
  bool configuration = false;
  bool directory = false;
  // Evaluate the filters of the dynamic packet header; otherwise its bytes are skipped.
  bool evaluateDynamicHeader = false;
  // A packet that starts a new object must have this type ("has wrong type" otherwise).
  bool checkType = false;
  uint32_t registeredType = 0;
};

class IInfocastDatagramOwner {
 public:
  // Called for each datagram that passed the fixed-header checks (length, packet numbers);
  // header is in host order with its name terminated. Fills route and returns true to go on,
  // or returns false to drop the datagram (after tracing what needs tracing).
  virtual bool RoutePacket(const TInfocastHeader& header, size_t length, TInfocastRoute& route) = 0;
  // For the CRC-32 precodings: true when this signature of this precoding is the one last
  // delivered for name, so the object is unchanged and nothing more is done.
  virtual bool IsUnchangedObject(const std::string& name, uint16_t precoding,
                                 uint32_t signature) = 0;
  // A complete object that was either delivered (delivered true) or found already held by the
  // callback's OnCompareObject (delivered false). The callback may have changed the owner's
  // state in between; look name up again.
  virtual void OnObjectAccepted(const std::string& name, bool delivered, uint16_t precoding,
                                uint32_t signature) = 0;
  virtual ~IInfocastDatagramOwner() = default;

 protected:
  IInfocastDatagramOwner() = default;
  IInfocastDatagramOwner(const IInfocastDatagramOwner&) = delete;
  IInfocastDatagramOwner& operator=(const IInfocastDatagramOwner&) = delete;
};

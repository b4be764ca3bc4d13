// The one datagram engine of both receiving channels (the Infocast channels and the
// management channel): everything between a received datagram and a checked, complete
// object. It owns the reassembly (last header and the object's bytes so far); it does not own
// the socket, the filters, the owner or the callback. Runs on the loop thread.
//
// Steps for one datagram of `length` bytes received into a buffer of `capacity`:
//  1. length < 44: "Invalid packet header". length > capacity: "Packet was truncated".
//  2. Header (host order, name cut to 29): packetNumber or packetCount 0: "Invalid field in
//     header".
//  3. The owner routes the packet (IInfocastDatagramOwner::RoutePacket): its name, whether it
//     is wanted, whether its filters count. Unwanted: dropped without a trace.
//  4. Continuation: the packet continues the object in assembly when the name (and, under
//     the Infocast rules, type, precoding and packetCount) equal the last header's and its
//     number is the last one plus 1. Otherwise it must be packet 1 of a new object (else
//     dropped without a trace), of the registered type ("has wrong type") and, under the
//     Infocast rules, not of precoding 0x0003 ("has unsupported precoding").
//  5. Dynamic header D = (flags >> 13) * 16 bytes, when the route evaluates it and D > 0:
//     length < 44 + D, or D shorter than the announced filters (16 time, 32 target):
//     "Invalid dynamic packet header". A target filter that does not match drops the packet
//     silently; a time filter not active now withdraws the object (OnObjectChanged with "").
//     The management rules evaluate filters before step 4, the Infocast rules after it.
//  6. Signature S at the end (0x0002: 2 bytes in the last packet; 0x0004: 4 in the last;
//     0x4000: 4 in every packet; 0x0003 under the management rules: 20 in the last, never
//     verified). Fewer than S bytes after 44 + D: "Invalid object signature".
//  7. A new object empties the assembly; the data slice [44 + D, length - S) is appended.
//     Past kMaxObjectSize the object is dropped with a trace and the assembly emptied.
//  8. On the last packet: for CRC-32 precodings the owner may declare the object unchanged
//     (same signature as delivered last): done. Then OnCompareObject and the checksum, in the
//     order of the rules; a mismatch is "Checksum error (crc16|crc32_ethernet) in object".
//     A new value goes to OnObjectChanged, or OnDirectoryChanged for configuration objects.
// Nothing reads past `length`, nothing is allocated from a header field, and every failure
// only drops the datagram or the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/TTracker.h"
#include "infocast/IInfocastChannelCallback.h"
#include "infocast/IInfocastDatagramOwner.h"
#include "infocast/TInfocastFilters.h"
#include "infocast/TInfocastHeader.h"

class TInfocastDatagramEngine final {
 public:
  // What distinguishes the two channels that use the engine.
  struct TRules {
    // Starts every trace: "TInfocastChannel: ", "TManagementChannel: ".
    const char* prefix;
    // Trace of a precoding 0x0003 object, which is refused; null: 0x0003 is accepted with a
    // 20-byte signature that is removed and not verified.
    const char* unsupportedPrecodingFormat;
    // Filters (step 5) before the continuation test (step 4).
    bool filtersBeforeContinuation;
    // The continuation test compares only the name and the packet number.
    bool continuationByNameOnly;
    // The checksum is verified before OnCompareObject is asked.
    bool checksumBeforeCompare;
    // Objects whose filters passed are traced "Filter match for information object: %s".
    bool traceFilterMatch;
    // The checksum error trace names the object.
    bool checksumErrorNamesObject;
  };
  static const TRules kInfocastRules;
  static const TRules kManagementRules;

  // The largest object assembled. packetCount is a 32-bit field anybody on the segment can
  // send, so the assembly has a bound of its own; Infocast objects are configuration texts and
  // small files, far below it.
  static constexpr size_t kMaxObjectSize = 16 * 1024 * 1024;
  // Signature bytes of a precoding 0x0003 object under the management rules.
  static constexpr size_t kUnverifiedSignatureLength = 20;

  // rules (with its texts), owner, filters and tracker must outlive the engine.
  TInfocastDatagramEngine(const TRules& rules, IInfocastDatagramOwner& owner,
                          const TInfocastFilters& filters, TTracker& tracker);

  // The receiver of complete objects; null drops them.
  void SetCallback(IInfocastChannelCallback* callback) { callback_ = callback; }

  // Runs the steps above for one datagram whose real length is `length`; datagram holds
  // min(length, capacity) bytes. May call the owner and the callback.
  void Process(const uint8_t* datagram, size_t length, size_t capacity);

  const TInfocastHeader& GetLastHeader() const { return lastHeader_; }
  const std::string& GetAssembly() const { return assembly_; }

 private:
  enum class TVerdict { kPass, kDrop };

  bool Continues(const TInfocastHeader& header, const std::string& name) const;
  TVerdict StartsObject(const TInfocastHeader& header, const TInfocastRoute& route) const;
  TVerdict ApplyFilters(const uint8_t* datagram, size_t length, const TInfocastHeader& header,
                        const TInfocastRoute& route) const;
  size_t SignatureLength(const TInfocastHeader& header) const;
  void Complete(const uint8_t* signatureBytes, const TInfocastHeader& header,
                const TInfocastRoute& route);
  bool VerifyChecksum(const TInfocastHeader& header, uint32_t signature,
                      const std::string& name) const;
  void Deliver(const TInfocastRoute& route);
  void ResetAssembly();

  const TRules& rules_;
  IInfocastDatagramOwner& owner_;
  const TInfocastFilters& filters_;
  TTracker& tracker_;
  IInfocastChannelCallback* callback_ = nullptr;

  TInfocastHeader lastHeader_;
  // The routed name of the last accepted packet (renamed or translated), which the
  // continuation test compares.
  std::string lastName_;
  std::string assembly_;
};

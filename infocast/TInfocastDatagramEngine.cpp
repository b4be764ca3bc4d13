#include "infocast/TInfocastDatagramEngine.h"

#include "infocast/InfocastChecksums.h"

const TInfocastDatagramEngine::TRules TInfocastDatagramEngine::kInfocastRules = {
    "TInfocastChannel: ",
    // The misspelt prefix is the text operators grep for.
    "TinfocastChannel: Object '%s' has unsupported precoding",
    /*filtersBeforeContinuation=*/false,
    /*continuationByNameOnly=*/false,
    /*checksumBeforeCompare=*/false,
    /*traceFilterMatch=*/true,
    /*checksumErrorNamesObject=*/true,
};

const TInfocastDatagramEngine::TRules TInfocastDatagramEngine::kManagementRules = {
    "TManagementChannel: ",
    nullptr,
    /*filtersBeforeContinuation=*/true,
    /*continuationByNameOnly=*/true,
    /*checksumBeforeCompare=*/true,
    /*traceFilterMatch=*/false,
    /*checksumErrorNamesObject=*/false,
};

namespace {

uint32_t ReadBigEndian(const uint8_t* bytes, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

bool IsCrc32(uint16_t precoding) {
  return precoding == TInfocastHeader::kPrecodingCrc32 ||
         precoding == TInfocastHeader::kPrecodingCrc32EveryPacket;
}

}  // namespace

TInfocastDatagramEngine::TInfocastDatagramEngine(const TRules& rules, IInfocastDatagramOwner& owner,
                                                 const TInfocastFilters& filters, TTracker& tracker)
    : rules_(rules), owner_(owner), filters_(filters), tracker_(tracker) {}

void TInfocastDatagramEngine::Process(const uint8_t* datagram, size_t length, size_t capacity) {
  if (length < TInfocastHeader::kSize) {
    tracker_.Error("%sInvalid packet header", rules_.prefix);
    return;
  }
  if (length > capacity) {
    tracker_.Error("%sPacket was truncated", rules_.prefix);
    return;
  }
  TInfocastHeader header;
  header.Decode(datagram, length);
  if (header.packetNumber == 0 || header.packetCount == 0) {
    tracker_.Error("%sInvalid field in header", rules_.prefix);
    return;
  }
  TInfocastRoute route;
  if (!owner_.RoutePacket(header, length, route)) return;

  const bool continues = Continues(header, route.name);
  const size_t dynamicLength = header.GetDynamicHeaderLength();
  const size_t signatureLength = SignatureLength(header);
  auto signatureFits = [&]() {
    // Also catches a dynamic header longer than the datagram when its filters are skipped.
    if (length >= TInfocastHeader::kSize + dynamicLength + signatureLength) return true;
    tracker_.Error("%sInvalid object signature", rules_.prefix);
    return false;
  };
  if (rules_.filtersBeforeContinuation) {
    if (ApplyFilters(datagram, length, header, route) == TVerdict::kDrop) return;
    if (!signatureFits()) return;
    if (!continues && StartsObject(header, route) == TVerdict::kDrop) return;
  } else {
    if (!continues && StartsObject(header, route) == TVerdict::kDrop) return;
    if (ApplyFilters(datagram, length, header, route) == TVerdict::kDrop) return;
    if (!signatureFits()) return;
  }

  if (!continues) assembly_.clear();
  lastHeader_ = header;
  lastName_ = route.name;
  const size_t begin = TInfocastHeader::kSize + dynamicLength;
  const size_t end = length - signatureLength;
  if (end - begin > kMaxObjectSize - assembly_.size()) {
    tracker_.Error("%sObject '%s' is larger than %zu bytes; dropped", rules_.prefix,
                   route.name.c_str(), kMaxObjectSize);
    ResetAssembly();
    return;
  }
  assembly_.append(reinterpret_cast<const char*>(datagram) + begin, end - begin);
  if (!header.IsLastPacket()) return;
  Complete(datagram + end, header, route);
}

bool TInfocastDatagramEngine::Continues(const TInfocastHeader& header,
                                        const std::string& name) const {
  if (lastHeader_.packetNumber == 0 || name != lastName_ ||
      header.packetNumber != lastHeader_.packetNumber + 1) {
    return false;
  }
  if (rules_.continuationByNameOnly) return true;
  return header.type == lastHeader_.type && header.precoding == lastHeader_.precoding &&
         header.packetCount == lastHeader_.packetCount;
}

TInfocastDatagramEngine::TVerdict TInfocastDatagramEngine::StartsObject(
    const TInfocastHeader& header, const TInfocastRoute& route) const {
  if (header.packetNumber != 1) return TVerdict::kDrop;
  if (route.checkType && header.type != route.registeredType) {
    tracker_.Error("%sObject '%s' has wrong type", rules_.prefix, route.name.c_str());
    return TVerdict::kDrop;
  }
  if (rules_.unsupportedPrecodingFormat &&
      header.precoding == TInfocastHeader::kPrecodingUnsupported) {
    // The format is one of the rules' fixed texts with a single %s.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    tracker_.Error(rules_.unsupportedPrecodingFormat, route.name.c_str());
#pragma GCC diagnostic pop
    return TVerdict::kDrop;
  }
  return TVerdict::kPass;
}

TInfocastDatagramEngine::TVerdict TInfocastDatagramEngine::ApplyFilters(
    const uint8_t* datagram, size_t length, const TInfocastHeader& header,
    const TInfocastRoute& route) const {
  const size_t dynamicLength = header.GetDynamicHeaderLength();
  if (!route.evaluateDynamicHeader || dynamicLength == 0) return TVerdict::kPass;
  const bool hasTime = (header.flags & TInfocastHeader::kTimeFilterFlag) != 0;
  const bool hasTarget = (header.flags & TInfocastHeader::kTargetFilterFlag) != 0;
  const size_t needed = (hasTime ? TInfocastFilters::kTimeFilterLength : 0) +
                        (hasTarget ? TInfocastFilters::kTargetFilterLength : 0);
  if (length < TInfocastHeader::kSize + dynamicLength || dynamicLength < needed) {
    tracker_.Error("%sInvalid dynamic packet header", rules_.prefix);
    return TVerdict::kDrop;
  }
  const char* fields = reinterpret_cast<const char*>(datagram) + TInfocastHeader::kSize;
  if (hasTarget) {
    const size_t offset = hasTime ? TInfocastFilters::kTimeFilterLength : 0;
    const std::string target(fields + offset, TInfocastFilters::kTargetFilterLength);
    if (!filters_.TargetFilterActive(target)) return TVerdict::kDrop;
  }
  if (hasTime) {
    const std::string time(fields, TInfocastFilters::kTimeFilterLength);
    if (!filters_.TimeFilterActive(time)) {
      if (callback_) callback_->OnObjectChanged(route.name, std::string());
      return TVerdict::kDrop;
    }
  }
  if (rules_.traceFilterMatch) {
    tracker_.Trace("%sFilter match for information object: %s", rules_.prefix, route.name.c_str());
  }
  return TVerdict::kPass;
}

size_t TInfocastDatagramEngine::SignatureLength(const TInfocastHeader& header) const {
  if (!rules_.unsupportedPrecodingFormat &&
      header.precoding == TInfocastHeader::kPrecodingUnsupported) {
    return header.IsLastPacket() ? kUnverifiedSignatureLength : 0;
  }
  return header.GetSignatureLength();
}

void TInfocastDatagramEngine::Complete(const uint8_t* signatureBytes, const TInfocastHeader& header,
                                       const TInfocastRoute& route) {
  uint32_t signature = 0;
  if (header.precoding == TInfocastHeader::kPrecodingCrc16) {
    signature = ReadBigEndian(signatureBytes, 2);
  } else if (IsCrc32(header.precoding)) {
    signature = ReadBigEndian(signatureBytes, 4);
    // A head-end repeats its carousel: an object whose CRC-32 is the one delivered last is
    // unchanged, and neither the owner nor the checksum needs to see it again.
    if (owner_.IsUnchangedObject(route.name, header.precoding, signature)) return;
  }
  if (!callback_) return;
  bool delivered = false;
  if (rules_.checksumBeforeCompare) {
    if (!VerifyChecksum(header, signature, route.name)) return;
    if (!callback_->OnCompareObject(route.name, assembly_)) {
      Deliver(route);
      delivered = true;
    }
  } else if (!callback_->OnCompareObject(route.name, assembly_)) {
    if (!VerifyChecksum(header, signature, route.name)) return;
    Deliver(route);
    delivered = true;
  }
  owner_.OnObjectAccepted(route.name, delivered, header.precoding, signature);
}

bool TInfocastDatagramEngine::VerifyChecksum(const TInfocastHeader& header, uint32_t signature,
                                             const std::string& name) const {
  const char* begin = assembly_.data();
  const char* end = begin + assembly_.size();
  const char* kind = nullptr;
  if (header.precoding == TInfocastHeader::kPrecodingCrc16) {
    if (DoCRC16Run(begin, end, 0) == signature) return true;
    kind = "crc16";
  } else if (IsCrc32(header.precoding)) {
    if (DoCRC32Ethernet(begin, end) == signature) return true;
    kind = "crc32_ethernet";
  } else {
    return true;
  }
  if (rules_.checksumErrorNamesObject) {
    tracker_.Error("%sChecksum error (%s) in object '%s'", rules_.prefix, kind, name.c_str());
  } else {
    tracker_.Error("%sChecksum error (%s) in object", rules_.prefix, kind);
  }
  return false;
}

void TInfocastDatagramEngine::Deliver(const TInfocastRoute& route) {
  if (route.configuration) {
    callback_->OnDirectoryChanged(route.name, assembly_, route.directory);
  } else {
    callback_->OnObjectChanged(route.name, assembly_);
  }
}

void TInfocastDatagramEngine::ResetAssembly() {
  // Later packets of the dropped object no longer continue anything and are dropped until a
  // new packet 1; the memory of the large object is given back.
  lastHeader_ = TInfocastHeader();
  lastName_.clear();
  std::string().swap(assembly_);
}

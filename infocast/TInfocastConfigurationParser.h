// Turns the text of an Infocast configuration object into channel and object records: the
// XML syntax of a root configuration, or the extended quoted-line syntax of an extended one
// (the rules, with examples, at the top of TInfocastConfigurationParser.cpp). It creates no
// channel and holds no state but its references; the Infocast adapter applies the records.
// Names pass through the alias list. Every failure is traced here, with the texts the box's
// operators know ("TInfocastAdapter: %s" for the XML checks). Runs on the loop thread.
//
// A configuration arrives from the network, so what one text can produce is bounded:
// kMaxRecords object records and as many channel records; past that the rest of the text
// is ignored with one error trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/TTracker.h"
#include "infocast/TInfocastChannel.h"
#include "translation/INameTranslator.h"

// One channel a configuration names. Two records with the same address and port are one
// channel, with the first one's connection type.
struct TInfocastChannelRecord {
  std::string address;
  int port;
  TInfocastChannel::TConnectionType connection;
  int interval;  // seconds; Reconnected only, else 0
  int timeout;   // seconds; Reconnected only, else 0
};

// One object a configuration names, on channels[channel] of the same configuration.
struct TInfocastObjectRecord {
  std::string name;  // after the alias list
  bool prefetch;     // else received only while somebody subscribes to exactly this name
  bool countref;     // OnRequest only: dropped with its value when the last subscriber leaves
  uint16_t type;     // TInfocastHeader::kTypeInformationObject or kTypeDirectory
  size_t channel;
};

// The records of one configuration text, in the order the text names them. In an extended
// configuration channels[0] is the channel that carried the text.
struct TInfocastConfiguration {
  std::vector<TInfocastChannelRecord> channels;
  std::vector<TInfocastObjectRecord> objects;
};

// One entry of the extended syntax, as written between its quotes.
struct TInfocastExtendedEntry {
  int type = 0;  // hexadecimal in the text; beyond int it reads as INT_MAX
  std::string name;
  std::string address;  // empty, with port 0, when the entry names no channel
  int port = 0;
};

class TInfocastConfigurationParser final {
 public:
  static constexpr size_t kMaxRecords = 65536;

  // names and tracker must outlive the parser.
  TInfocastConfigurationParser(const INameTranslator& names, TTracker& tracker);

  // The records of an XML configuration. The first failed check ends the text with the error
  // "TInfocastAdapter: %s"; the records made before it are returned.
  TInfocastConfiguration ParseXml(const std::string& text) const;
  // The records of an extended configuration that arrived on carrierAddress:carrierPort.
  // An entry of an unsupported type is skipped with a warning; a malformed entry or a missing
  // closing quote ends the text with a trace.
  TInfocastConfiguration ParseExtended(const std::string& text, const std::string& carrierAddress,
                                       int carrierPort) const;
  // One entry; false, with a warning, when it is malformed. entry is reset first.
  bool ParseExtendedEntry(const std::string& text, TInfocastExtendedEntry& entry) const;

 private:
  std::string TranslateName(const std::string& name) const;
  bool Full(const TInfocastConfiguration& configuration) const;

  const INameTranslator& names_;
  TTracker& tracker_;
};

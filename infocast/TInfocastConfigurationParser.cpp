// Configuration rules.
//
// The root configuration (`_metachannel.infocast2.conf` in normal mode,
// `_metachannel.infocastinfo` in opch mode) is XML until a directory-flagged update makes it
// extended:
//
//   <Infocast>
//     <Channel address="239.1.1.1" port="5000" connection="Reconnected" interval="60"
//              timeout="10">
//       <Object name="var.news" fetch="OnRequest" countref="true"/>
//       <Object name="cfg.weather" fetch="Prefetch"/>
//     </Channel>
//   </Infocast>
//
// Checks run in document order and the first failure ends the parse of that text (what was
// made before it stays): port 1..65535, interval 2..86400 and 1 <= timeout < interval (both
// only read for Reconnected), countref only read for OnRequest. "Once" with interval "abc"
// passes; port 0 and 65536, interval 1 and timeout == interval do not.
//
// The extended syntax is a sequence of double-quoted entries; text outside quotes is ignored:
//   "1'cfg.x"                         object cfg.x on the channel that carried the text
//   "C000'sub dir '239.1.1.1:5000"    sub-directory "sub dir" received on 239.1.1.1:5000
//   "7'var.x"                         skipped with a warning, parsing goes on
//   "7'"                              the same: an empty name is an entry like any other
//   "1 var.x"                         no apostrophe: parsing of this text stops
// Every extended entry is Prefetch. Sub-directories are extended and parsed, in name order,
// after the text that named them.
#include "infocast/TInfocastConfigurationParser.h"

#include <arpa/inet.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/TException.h"
#include "infocast/TInfocastHeader.h"
#include "xml/TGeneralXmlParser.h"

namespace {

constexpr const char* kWhitespace = " \t\r\n";

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// atoi without its undefined overflow: leading whitespace, a sign, digits; the rest ignored.
long long ToNumber(const std::string& text, int base) {
  errno = 0;
  return std::strtoll(text.c_str(), nullptr, base);
}

// Values beyond int are clamped.
int ToInt(const std::string& text) {
  const long long value = ToNumber(text, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(kWhitespace);
  return text.substr(first, last - first + 1);
}

const std::string& Require(const TXmlElement& element, const char* name, const char* missing) {
  const auto found = element.attributes.find(name);
  if (found == element.attributes.end()) throw TException(missing);
  return found->second;
}

TInfocastChannel::TConnectionType ConnectionType(const std::string& text) {
  if (text == "Persistent") return TInfocastChannel::Persistent;
  if (text == "Reconnected") return TInfocastChannel::Reconnected;
  if (text == "Once") return TInfocastChannel::Once;
  throw TException("Channel has unknown connection type");
}

TInfocastChannelRecord ChannelRecord(const TXmlElement& element) {
  const std::string& address = Require(element, "address", "Channel has no address attribute");
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
    throw TException("Channel has an invalid IP address");
  }
  const int port = ToInt(Require(element, "port", "Channel has no port attribute"));
  if (port < 1 || port > 65535) throw TException("Channel has invalid port number");
  TInfocastChannelRecord record{address, port,
                                ConnectionType(Require(element, "connection",
                                                       "Channel has no connection attribute")),
                                0, 0};
  if (record.connection == TInfocastChannel::Reconnected) {
    record.interval = ToInt(Require(element, "interval", "Channel has no interval attribute"));
    if (record.interval < 2 || record.interval > 86400) {
      throw TException("Channel has invalid interval value");
    }
    record.timeout = ToInt(Require(element, "timeout", "Channel has no timeout attribute"));
    if (record.timeout < 1 || record.timeout >= record.interval) {
      throw TException("Channel has invalid timeout value");
    }
  }
  return record;
}

}  // namespace

TInfocastConfigurationParser::TInfocastConfigurationParser(const INameTranslator& names,
                                                           TTracker& tracker)
    : names_(names), tracker_(tracker) {}

std::string TInfocastConfigurationParser::TranslateName(const std::string& name) const {
  return names_.HasAlias(name) ? names_.Translate(name) : name;
}

bool TInfocastConfigurationParser::Full(const TInfocastConfiguration& configuration) const {
  if (configuration.objects.size() < kMaxRecords && configuration.channels.size() < kMaxRecords) {
    return false;
  }
  tracker_.Error("TInfocastAdapter: Configuration names more than %zu entries; the rest ignored",
                 kMaxRecords);
  return true;
}

TInfocastConfiguration TInfocastConfigurationParser::ParseXml(const std::string& text) const {
  TInfocastConfiguration result;
  try {
    TGeneralXmlParser parser;
    parser.Parse(text);
    const TXmlElement& root = parser.GetRootElement();
    if (root.name != "Infocast") throw TException("Unknown root element in infocast configuration");
    for (const TXmlElement& element : root.children) {
      if (element.name != "Channel") throw TException("Unknown element in infocast configuration");
      if (Full(result)) return result;
      result.channels.push_back(ChannelRecord(element));
      for (const TXmlElement& object : element.children) {
        if (object.name != "Object") throw TException("Unknown element in infocast configuration");
        const std::string name =
            TranslateName(Require(object, "name", "Object has no name attribute"));
        const std::string& fetch = Require(object, "fetch", "Object has no fetch attribute");
        if (fetch != "Prefetch" && fetch != "OnRequest") {
          throw TException("Object has invalid fetch value");
        }
        const bool prefetch = fetch == "Prefetch";
        bool countref = false;
        if (!prefetch) {
          const std::string& value = Require(object, "countref", "Object has no countref attribute");
          if (value != "true" && value != "false") {
            throw TException("Object has invalid countref value");
          }
          countref = value == "true";
        }
        if (Full(result)) return result;
        result.objects.push_back(TInfocastObjectRecord{name, prefetch, countref,
                                                       TInfocastHeader::kTypeInformationObject,
                                                       result.channels.size() - 1});
      }
    }
  } catch (const TException& failure) {
    tracker_.Error("TInfocastAdapter: %s", failure.GetText());
  } catch (...) {
    tracker_.Error("TInfocastAdapter: Unknown exception");
  }
  return result;
}

TInfocastConfiguration TInfocastConfigurationParser::ParseExtended(
    const std::string& text, const std::string& carrierAddress, int carrierPort) const {
  TInfocastConfiguration result;
  result.channels.push_back(
      TInfocastChannelRecord{carrierAddress, carrierPort, TInfocastChannel::Persistent, 0, 0});
  size_t position = 0;
  while (position < text.size()) {
    const size_t open = text.find('"', position);
    if (open == std::string::npos) break;
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos) {
      tracker_.Error("Found a start token but didn't found end token in string [%s]",
                     text.substr(open).c_str());
      break;
    }
    position = close + 1;
    TInfocastExtendedEntry entry;
    if (!ParseExtendedEntry(text.substr(open + 1, close - open - 1), entry)) break;
    const std::string name = TranslateName(entry.name);
    if (entry.type != TInfocastHeader::kTypeInformationObject &&
        entry.type != TInfocastHeader::kTypeDirectory) {
      tracker_.Warning("Objects with type %d is not supported", entry.type);
      continue;
    }
    if (Full(result)) break;
    size_t channel = 0;
    if (entry.port >= 1) {
      result.channels.push_back(
          TInfocastChannelRecord{entry.address, entry.port, TInfocastChannel::Persistent, 0, 0});
      channel = result.channels.size() - 1;
    }
    result.objects.push_back(
        TInfocastObjectRecord{name, true, false, static_cast<uint16_t>(entry.type), channel});
  }
  return result;
}

bool TInfocastConfigurationParser::ParseExtendedEntry(const std::string& line,
                                                      TInfocastExtendedEntry& entry) const {
  entry = TInfocastExtendedEntry();
  const size_t first = line.find_first_not_of(kWhitespace);
  const size_t apostrophe = first == std::string::npos ? first : line.find('\'', first);
  if (apostrophe == std::string::npos) {
    tracker_.Warning("Didn't found a spearator between type and name in string [%s]",
                     line.c_str());
    return false;
  }
  std::string typeText = line.substr(first, apostrophe - first);
  typeText = typeText.substr(0, typeText.find_first_of(kWhitespace));
  const long long type = ToNumber(typeText, 16);
  entry.type = type > INT_MAX || type < INT_MIN ? INT_MAX : static_cast<int>(type);

  const size_t second = line.find('\'', apostrophe + 1);
  if (second == std::string::npos) {
    const size_t start = line.find_first_not_of(kWhitespace, apostrophe + 1);
    if (start != std::string::npos) {
      const size_t end = line.find_first_of(kWhitespace, start);
      entry.name = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    return true;
  }
  entry.name = Trim(line.substr(apostrophe + 1, second - apostrophe - 1));
  const size_t colon = line.find(':', second + 1);
  if (colon == std::string::npos) {
    tracker_.Warning("Didn't find a colon in the ip:port portion of string [%s]", line.c_str());
    return false;
  }
  size_t start = second + 1;
  while (start < colon && IsWhitespace(line[start])) ++start;
  entry.address = line.substr(start, colon - start);
  entry.port = ToInt(line.substr(colon + 1));
  return true;
}

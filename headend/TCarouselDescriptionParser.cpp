#include "headend/TCarouselDescriptionParser.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "base/ParseNumber.h"
#include "base/TException.h"
#include "infocast/TInfocastHeader.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/ReadFileUpTo.h"
#include "xml/TGeneralXmlParser.h"
#include "xml/TXmlFormat.h"

namespace {

const char kWhitespace[] = " \t\r\n";
// Attributes only the head-end reads; everything else on an element goes out to the boxes.
const std::set<std::string> kHeadEndAttributes = {"rate",  "file", "target",
                                                  "valid", "type", "precoding"};

std::string Where(const std::string& path, unsigned long line) {
  return path + ":" + std::to_string(line);
}

[[noreturn]] void Refuse(const std::string& where, const std::string& reason) {
  throw TException(where + ": " + reason);
}

bool ReadNumber(const std::string& text, uint64_t max, uint64_t& value) {
  return ParseNumber(text, max, value) == TParseNumberResult::kOk;
}

uint64_t Number(const std::string& where, const std::string& what, const std::string& text,
                uint64_t max) {
  uint64_t value = 0;
  if (!ReadNumber(text, max, value)) {
    Refuse(where, what + " '" + text + "' is not a number up to " + std::to_string(max));
  }
  return value;
}

bool IsDottedIpv4(const std::string& text) {
  in_addr parsed{};
  return inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

void CheckName(const std::string& where, const std::string& name) {
  if (name.empty()) Refuse(where, "object without a name");
  if (name.size() > TInfocastHeader::kMaxNameLength) {
    Refuse(where, "name '" + name + "' is longer than 29 characters");
  }
}

const std::string* Find(const TXmlElement& element, const char* key) {
  auto found = element.attributes.find(key);
  return found == element.attributes.end() ? nullptr : &found->second;
}

// The box's own checks of a Channel element, in its order and words: a text it would refuse
// must not go out.
void CheckBoxChannel(const std::string& where, const TXmlElement& element) {
  const std::string* address = Find(element, "address");
  if (!address) Refuse(where, "Channel has no address attribute");
  if (!IsDottedIpv4(*address)) Refuse(where, "Channel has an invalid IP address");
  const std::string* port = Find(element, "port");
  if (!port) Refuse(where, "Channel has no port attribute");
  uint64_t value = 0;
  if (!ReadNumber(*port, 65535, value) || value == 0) {
    Refuse(where, "Channel has invalid port number");
  }
  const std::string* connection = Find(element, "connection");
  if (!connection) Refuse(where, "Channel has no connection attribute");
  if (*connection == "Reconnected") {
    uint64_t interval = 0;
    uint64_t timeout = 0;
    const std::string* intervalText = Find(element, "interval");
    if (!intervalText) Refuse(where, "Channel has no interval attribute");
    if (!ReadNumber(*intervalText, 86400, interval) || interval < 2) {
      Refuse(where, "Channel has invalid interval value");
    }
    const std::string* timeoutText = Find(element, "timeout");
    if (!timeoutText) Refuse(where, "Channel has no timeout attribute");
    if (!ReadNumber(*timeoutText, 86400, timeout) || timeout < 1 || timeout >= interval) {
      Refuse(where, "Channel has invalid timeout value");
    }
  } else if (*connection != "Persistent" && *connection != "Once") {
    Refuse(where, "Channel has unknown connection type");
  }
}

void CheckBoxObject(const std::string& where, const TXmlElement& element) {
  if (!Find(element, "name")) Refuse(where, "Object has no name attribute");
  const std::string* fetch = Find(element, "fetch");
  if (!fetch) Refuse(where, "Object has no fetch attribute");
  if (*fetch == "OnRequest") {
    const std::string* countref = Find(element, "countref");
    if (!countref) Refuse(where, "Object has no countref attribute");
    if (*countref != "true" && *countref != "false") {
      Refuse(where, "Object has invalid countref value");
    }
  } else if (*fetch != "Prefetch") {
    Refuse(where, "Object has invalid fetch value");
  }
}

// The element as a box gets it: the head-end attributes left out.
std::string Strip(const TXmlElement& element, int indent) {
  std::string text(indent, ' ');
  text += "<" + element.name;
  for (const auto& [key, value] : element.attributes) {
    if (indent > 0 && kHeadEndAttributes.count(key)) continue;
    text += " " + key + "=\"" + TXmlFormat(value).GetString() + "\"";
  }
  if (element.children.empty()) return text + "/>\n";
  text += ">\n";
  for (const TXmlElement& child : element.children) text += Strip(child, indent + 2);
  return text + std::string(indent, ' ') + "</" + element.name + ">\n";
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

struct TEntry {
  uint64_t type = 0;
  std::string name;
  std::string address;
  uint16_t port = 0;
};

// TYPE'NAME or TYPE'NAME'ADDRESS:PORT, as a box reads them; refuses what a box would skip or
// stop at.
TEntry ParseEntry(const std::string& where, const std::string& entry) {
  TEntry parsed;
  const size_t first = entry.find_first_not_of(kWhitespace);
  const size_t apostrophe = first == std::string::npos ? first : entry.find('\'', first);
  if (apostrophe == std::string::npos) Refuse(where, "entry without TYPE'NAME");
  std::string type = entry.substr(first, apostrophe - first);
  type = type.substr(0, type.find_first_of(kWhitespace));
  if (!ReadNumber("0x" + type, 0xFFFF, parsed.type) ||
      (parsed.type != TInfocastHeader::kTypeInformationObject &&
       parsed.type != TInfocastHeader::kTypeDirectory)) {
    Refuse(where, "entry type '" + type + "' is neither 1 nor C000");
  }
  const size_t second = entry.find('\'', apostrophe + 1);
  if (second == std::string::npos) {
    const std::string rest = Trim(entry.substr(apostrophe + 1));
    parsed.name = rest.substr(0, rest.find_first_of(kWhitespace));
    return parsed;
  }
  parsed.name = Trim(entry.substr(apostrophe + 1, second - apostrophe - 1));
  const size_t colon = entry.find(':', second + 1);
  if (colon == std::string::npos) Refuse(where, "entry without ADDRESS:PORT after the name");
  parsed.address = Trim(entry.substr(second + 1, colon - second - 1));
  if (!IsDottedIpv4(parsed.address)) {
    Refuse(where, "address '" + parsed.address + "' is not dotted IPv4");
  }
  const uint64_t port = Number(where, "port", Trim(entry.substr(colon + 1)), 65535);
  if (port == 0) Refuse(where, "port 0");
  parsed.port = static_cast<uint16_t>(port);
  return parsed;
}

}  // namespace

TCarouselDescriptionParser::TCarouselDescriptionParser(const TSettings& settings, TReader reader)
    : settings_(settings), reader_(std::move(reader)) {}

uint64_t TCarouselDescriptionParser::ParseRate(const std::string& text) {
  uint64_t unit = 1;
  std::string digits = text;
  if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'M')) {
    unit = digits.back() == 'k' ? 1000 : 1000000;
    digits.pop_back();
  }
  uint64_t value = 0;
  // 100 Gbit/s is beyond any channel; the bound keeps the arithmetic of the pacing in range.
  const uint64_t kMaxRate = 100000000000ull;
  if (!ReadNumber(digits, kMaxRate / unit, value) || digits.compare(0, 2, "0x") == 0) {
    throw TException("rate '" + text + "' is not bits per second (e.g. 256k, 10M)");
  }
  return value * unit;
}

std::string TCarouselDescriptionParser::ReadFile(const std::string& path, size_t limit) {
  // A FIFO or a device would read as something else than the file the operator meant.
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) throw TException(path + " is not a regular file");
    if (static_cast<uint64_t>(status.st_size) > limit) {
      throw TException(path + " is " + std::to_string(status.st_size) + " bytes, over the " +
                       std::to_string(limit) + " a box accepts");
    }
  }
  std::string data;
  switch (ReadFileUpTo(path, limit, data)) {
    case TFileRead::kOpenFailed:
      throw TException(ErrnoMessage("cannot open " + path, errno));
    case TFileRead::kReadFailed:
      throw TException(ErrnoMessage("cannot read " + path, errno));
    case TFileRead::kCut:  // it grew since
      throw TException(path + " is over the " + std::to_string(limit) + " bytes a box accepts");
    case TFileRead::kWhole:
      break;
  }
  return data;
}

TCarouselPlan TCarouselDescriptionParser::Parse(const std::string& descriptionPath) {
  plan_ = TCarouselPlan();
  channelIndex_.clear();
  directories_.clear();
  objectCount_ = 0;
  totalBytes_ = 0;
  if (!IsDottedIpv4(settings_.metaAddress)) {
    Refuse("--meta", "address '" + settings_.metaAddress + "' is not dotted IPv4");
  }
  TCarouselChannel& meta = Channel(settings_.metaAddress, settings_.metaPort, "--meta");
  SetRate(meta, settings_.metaRate, "--meta-rate");
  const std::string metaKey = meta.Key();

  std::string text;
  try {
    text = reader_(descriptionPath, kMaxObjectBytes);
  } catch (const TException& failure) {
    Refuse(descriptionPath, failure.GetText());
  }
  plan_.files.push_back(descriptionPath);
  TCarouselObject root;
  root.where = descriptionPath + ":1";
  if (settings_.mode == TMode::kNormal) {
    root.name = "infocast2.conf";
    root.type = TInfocastHeader::kTypeInformationObject;
    root.data = ParseXml(descriptionPath, text);
  } else {
    root.name = settings_.productId;
    CheckName("--product", root.name);
    root.type = TInfocastHeader::kTypeDirectory;
    directories_.emplace(root.name, "--product");
    root.data = ParseExtended(descriptionPath, text, metaKey, 0);
  }
  // The configuration leads its channel, so a box that joins learns the channels first.
  TCarouselChannel& metaChannel = plan_.channels[channelIndex_.at(metaKey)];
  for (const TCarouselObject& object : metaChannel.objects) {
    if (object.name == root.name)
      Refuse(object.where, "object '" + root.name + "' twice on " + metaKey);
  }
  metaChannel.objects.insert(metaChannel.objects.begin(), std::move(root));
  for (const TCarouselChannel& channel : plan_.channels) {
    if (channel.rateBitsPerSecond == 0) {
      Refuse(channel.objects.empty() ? descriptionPath : channel.objects.front().where,
             "channel " + channel.Key() + " has no rate");
    }
  }
  return std::move(plan_);
}

TCarouselChannel& TCarouselDescriptionParser::Channel(const std::string& address, uint16_t port,
                                                      const std::string& where) {
  TCarouselChannel channel;
  channel.address = address;
  channel.port = port;
  auto found = channelIndex_.find(channel.Key());
  if (found != channelIndex_.end()) return plan_.channels[found->second];
  if (plan_.channels.size() >= kMaxChannels) {
    Refuse(where, "more than " + std::to_string(kMaxChannels) + " channels");
  }
  channelIndex_[channel.Key()] = plan_.channels.size();
  plan_.channels.push_back(std::move(channel));
  return plan_.channels.back();
}

void TCarouselDescriptionParser::SetRate(TCarouselChannel& channel, uint64_t rate,
                                         const std::string& where) {
  if (rate < settings_.datagramSize * 8) {
    Refuse(where, "rate " + std::to_string(rate) + " bit/s of " + channel.Key() +
                      " is below one datagram (" + std::to_string(settings_.datagramSize) +
                      " bytes) per second");
  }
  if (channel.rateBitsPerSecond != 0 && channel.rateBitsPerSecond != rate) {
    Refuse(where, "channel " + channel.Key() + " has rate " +
                      std::to_string(channel.rateBitsPerSecond) + " already");
  }
  channel.rateBitsPerSecond = rate;
}

void TCarouselDescriptionParser::AddObject(TCarouselChannel& channel, TCarouselObject object) {
  CheckName(object.where, object.name);
  for (const TCarouselObject& other : channel.objects) {
    if (other.name == object.name) {
      Refuse(object.where, "object '" + object.name + "' twice on " + channel.Key() +
                               " (first at " + other.where + ")");
    }
  }
  if (++objectCount_ > kMaxObjects) {
    Refuse(object.where, "more than " + std::to_string(kMaxObjects) + " objects");
  }
  // The packetizer refuses what the head-end cannot cut into datagrams: check it now, not
  // when the carousel plays.
  try {
    TInfocastPacketizer packetizer(object.type, object.precoding, object.name,
                                   settings_.datagramSize);
    if (!object.targetFilter.empty()) packetizer.SetTargetFilter(object.targetFilter);
    if (object.hasTimeFilter) packetizer.SetTimeFilter(object.validStart, object.validEnd);
    packetizer.GetPacketCount(object.data.size());
  } catch (const TException& failure) {
    Refuse(object.where, failure.GetText());
  }
  channel.objects.push_back(std::move(object));
}

std::string TCarouselDescriptionParser::ReadSource(const std::string& where,
                                                   const std::string& base,
                                                   const std::string& file) {
  const std::filesystem::path path = std::filesystem::path(file).is_absolute()
                                         ? std::filesystem::path(file)
                                         : std::filesystem::path(base).parent_path() / file;
  std::string data;
  try {
    data = reader_(path.string(), kMaxObjectBytes);
  } catch (const TException& failure) {
    Refuse(where, failure.GetText());
  }
  totalBytes_ += data.size();
  if (totalBytes_ > kMaxTotalBytes) {
    Refuse(where, "the sources add up to more than " + std::to_string(kMaxTotalBytes) + " bytes");
  }
  plan_.files.push_back(path.string());
  return data;
}

void TCarouselDescriptionParser::ApplyAttributes(
    TCarouselObject& object, const std::map<std::string, std::string>& attributes,
    const std::string& base) {
  auto file = attributes.find("file");
  if (file == attributes.end()) Refuse(object.where, "object '" + object.name + "' has no file");
  for (const auto& [key, value] : attributes) {
    if (key == "type") {
      object.type = static_cast<uint16_t>(Number(object.where, "type", value, 0xFFFF));
    } else if (key == "precoding") {
      object.precoding = static_cast<uint16_t>(Number(object.where, "precoding", value, 0xFFFF));
    } else if (key == "target") {
      object.targetFilter = value;
    } else if (key == "valid") {
      const size_t dash = value.find('-');
      if (dash == std::string::npos) Refuse(object.where, "valid '" + value + "' is not START-END");
      object.validStart =
          static_cast<uint32_t>(Number(object.where, "valid", value.substr(0, dash), UINT32_MAX));
      object.validEnd =
          static_cast<uint32_t>(Number(object.where, "valid", value.substr(dash + 1), UINT32_MAX));
      if (object.validStart > object.validEnd)
        Refuse(object.where, "valid '" + value + "' ends before it starts");
      object.hasTimeFilter = true;
    }
  }
  object.data = ReadSource(object.where, base, file->second);
}

std::string TCarouselDescriptionParser::ParseXml(const std::string& path, const std::string& text) {
  TGeneralXmlParser parser;
  try {
    parser.Parse(text);
  } catch (const TException& failure) {
    // The parser's text carries the line; put it where every other refusal has it.
    unsigned long line = 0;
    if (std::sscanf(failure.GetText(), "XML parse error at line %lu", &line) == 1) {
      Refuse(Where(path, line), failure.GetText());
    }
    Refuse(path, failure.GetText());
  }
  const TXmlElement& root = parser.GetRootElement();
  if (root.name != "Infocast") {
    Refuse(Where(path, root.line), "Unknown root element in infocast configuration");
  }
  for (const TXmlElement& element : root.children) {
    const std::string where = Where(path, element.line);
    if (element.name != "Channel") Refuse(where, "Unknown element in infocast configuration");
    CheckBoxChannel(where, element);
    const std::string* rate = Find(element, "rate");
    if (!rate) Refuse(where, "Channel has no rate attribute");
    uint64_t bits = 0;
    try {
      bits = ParseRate(*rate);
    } catch (const TException& failure) {
      Refuse(where, failure.GetText());
    }
    TCarouselChannel& channel = Channel(
        element.attributes.at("address"),
        static_cast<uint16_t>(std::strtoul(element.attributes.at("port").c_str(), nullptr, 0)),
        where);
    SetRate(channel, bits, where);
    for (const TXmlElement& child : element.children) {
      TCarouselObject object;
      object.where = Where(path, child.line);
      if (child.name != "Object") Refuse(object.where, "Unknown element in infocast configuration");
      CheckBoxObject(object.where, child);
      object.name = child.attributes.at("name");
      CheckName(object.where, object.name);
      ApplyAttributes(object, child.attributes, path);
      AddObject(channel, std::move(object));
    }
  }
  return Strip(root, 0);
}

std::string TCarouselDescriptionParser::ParseExtended(const std::string& path,
                                                      const std::string& text,
                                                      const std::string& channelKey, size_t depth) {
  std::string stripped;
  size_t position = 0;
  unsigned long line = 1;
  auto advance = [&](size_t to, bool keep) {
    for (size_t i = position; i < to; ++i) line += text[i] == '\n';
    if (keep) stripped.append(text, position, to - position);
    position = to;
  };
  for (;;) {
    const size_t open = text.find('"', position);
    if (open == std::string::npos) {
      advance(text.size(), true);
      return stripped;
    }
    advance(open, true);
    const std::string where = Where(path, line);
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos) Refuse(where, "entry without its closing quote");
    const TEntry entry = ParseEntry(where, text.substr(open + 1, close - open - 1));
    advance(close + 1, true);

    // Head-end attributes: KEY=VALUE words up to the end of the line or the next entry.
    std::map<std::string, std::string> attributes;
    size_t end = text.find_first_of("\n\"", position);
    if (end == std::string::npos) end = text.size();
    const std::string rest = text.substr(position, end - position);
    for (size_t word = rest.find_first_not_of(kWhitespace); word != std::string::npos;) {
      const size_t stop = rest.find_first_of(kWhitespace, word);
      const std::string token = rest.substr(word, stop == std::string::npos ? stop : stop - word);
      const size_t equals = token.find('=');
      const std::string key = token.substr(0, equals);
      if (equals == std::string::npos || !kHeadEndAttributes.count(key) || attributes.count(key)) {
        Refuse(where, "'" + token + "' is not a head-end attribute (KEY=VALUE, once each)");
      }
      attributes[key] = token.substr(equals + 1);
      word = stop == std::string::npos ? stop : rest.find_first_not_of(kWhitespace, stop);
    }
    advance(end, false);

    CheckName(where, entry.name);
    TCarouselChannel* channel = &plan_.channels[channelIndex_.at(channelKey)];
    if (entry.port != 0) channel = &Channel(entry.address, entry.port, where);
    if (attributes.count("rate")) {
      try {
        SetRate(*channel, ParseRate(attributes["rate"]), where);
      } catch (const TException& failure) {
        const std::string reason = failure.GetText();
        if (reason.compare(0, where.size(), where) == 0) throw;
        Refuse(where, reason);
      }
    }
    TCarouselObject object;
    object.where = where;
    object.name = entry.name;
    object.type = static_cast<uint16_t>(entry.type);
    if (entry.type == TInfocastHeader::kTypeDirectory) {
      if (depth + 1 > kMaxDirectoryDepth) {
        Refuse(where, "directories nested deeper than " + std::to_string(kMaxDirectoryDepth));
      }
      auto [known, added] = directories_.emplace(entry.name, where);
      if (!added)
        Refuse(where,
               "directory '" + entry.name + "' named twice (first at " + known->second + ")");
      auto file = attributes.find("file");
      if (file == attributes.end()) Refuse(where, "directory '" + entry.name + "' has no file");
      const std::filesystem::path subPath =
          std::filesystem::path(file->second).is_absolute()
              ? std::filesystem::path(file->second)
              : std::filesystem::path(path).parent_path() / file->second;
      const std::string subText = ReadSource(where, path, file->second);
      const std::string key = channel->Key();
      attributes.erase("file");
      for (const auto& [k, v] : attributes) {
        if (k == "precoding")
          object.precoding = static_cast<uint16_t>(Number(where, "precoding", v, 0xFFFF));
        if (k == "target" || k == "valid" || k == "type") {
          Refuse(where, "a directory takes no " + k);
        }
      }
      object.data = ParseExtended(subPath.string(), subText, key, depth + 1);
      // The recursion may have added channels and moved the vector.
      AddObject(plan_.channels[channelIndex_.at(key)], std::move(object));
    } else {
      ApplyAttributes(object, attributes, path);
      AddObject(*channel, std::move(object));
    }
  }
}

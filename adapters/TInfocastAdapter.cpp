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
//   "1 var.x"                         no apostrophe: parsing of this text stops
// Every extended entry is Prefetch. Sub-directories are extended and parsed, in name order,
// after the text that named them.
#include "adapters/TInfocastAdapter.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/TException.h"
#include "os/TUniqueFd.h"
#include "translation/LanguageCodes.h"
#include "xml/TGeneralXmlParser.h"

namespace {

constexpr const char* kVarMetaChannel = "var.ip.metachannel";
constexpr const char* kFfsMetaChannel = "_ffs.cfg.ip.metachannel";
constexpr const char* kUtcTime = "_metachannel.utctime";
constexpr const char* kInfocastInfo = "_metachannel.infocastinfo";
constexpr const char* kInfocast2Conf = "_metachannel.infocast2.conf";
constexpr const char* kBootcastInfo = "_metachannel.bootcastinfo";
constexpr const char* kWhitespace = " \t\r\n";

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// atoi without its undefined overflow: leading whitespace, a sign, digits; the rest ignored;
// values beyond int are clamped.
long long ToNumber(const std::string& text, int base) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, base);
  return value;
}

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

const std::string* Attribute(const TXmlElement& element, const char* name) {
  const auto found = element.attributes.find(name);
  return found == element.attributes.end() ? nullptr : &found->second;
}

const std::string& Require(const TXmlElement& element, const char* name, const char* missing) {
  const std::string* value = Attribute(element, name);
  if (value == nullptr) throw TException(missing);
  return *value;
}

}  // namespace

std::string TInfocastAdapter::TServiceReader::GetObject(const std::string& name) {
  std::string value;
  service_->GetObject(name, value);
  return value;
}

TInfocastAdapter::TInfocastAdapter(const std::string& metaChannelAddress,
                                   const std::string& addressFile, unsigned int packetBufferSize,
                                   TInfocastChannel::TMode mode, IInformationService* service,
                                   const INameTranslator* names,
                                   IIalTokenValueDictionary* dictionary, IIOEventLoop* loop,
                                   IClock& clock)
    : metaChannelAddress_(metaChannelAddress),
      addressFile_(addressFile),
      packetBufferSize_(packetBufferSize),
      mode_(mode),
      service_(service),
      names_(names),
      dictionary_(dictionary),
      loop_(loop),
      clock_(clock),
      reader_(service) {}

TInfocastAdapter::~TInfocastAdapter() {
  StopTimer(reconnectTimer_);
  StopTimer(statisticsTimer_);
  StopTimer(releaseTimer_);
  channels_.clear();
  metaChannel_.reset();
  retiredChannels_.clear();
}

void TInfocastAdapter::StopTimer(int& identifier) {
  if (identifier != -1) loop_->RemoveTimeout(identifier);
  identifier = -1;
}

std::string TInfocastAdapter::RootName() const {
  return mode_ == TInfocastChannel::Opch ? kInfocastInfo : kInfocast2Conf;
}

std::string TInfocastAdapter::TranslateName(const std::string& name) const {
  return names_->HasAlias(name) ? names_->Translate(name) : name;
}

// ---- IInformationAdapter ----

void TInfocastAdapter::InitializeObjects() {
  StopTimer(reconnectTimer_);
  reconnectTimer_ = loop_->AddTimeout(kTimerMs, this);
  StopTimer(statisticsTimer_);
  statisticsTimer_ = loop_->AddTimeout(kTimerMs, this);

  const size_t colon = metaChannelAddress_.find(':');
  if (colon == std::string::npos) {
    tracker_->Warning("Invalid metachannel address: %s", metaChannelAddress_.c_str());
    return;
  }
  // A reset to a new address tells the subscribers; the first start has nobody to tell yet.
  const auto previous = objects_.find(kVarMetaChannel);
  const bool changed = previous != objects_.end() && previous->second != metaChannelAddress_;
  objects_[kVarMetaChannel] = metaChannelAddress_;
  if (changed && callback_ != nullptr) callback_->OnSetObject(this, kVarMetaChannel);

  metaChannel_ = std::make_unique<TInfocastChannel>(
      metaChannelAddress_.substr(0, colon), ToInt(metaChannelAddress_.substr(colon + 1)),
      TInfocastChannel::Persistent, 0, 0, packetBufferSize_, mode_, reader_, *names_, *loop_,
      clock_, *tracker_);
  metaChannel_->SetCallback(this);
  metaChannel_->AddObject(RootName(), mode_ == TInfocastChannel::Opch ? 0 : 1);
  metaChannel_->AddObject(kUtcTime, 7);
  metaChannel_->AddObject(kBootcastInfo, 2);

  directories_[RootName()] = std::make_unique<TInfocastDirectory>(RootName(), *tracker_);
}

bool TInfocastAdapter::HasObject(const std::string& name) const {
  if (name == kStatUrl || name == kStatTimeTotal || name == kStatTotalPackets ||
      name == kStatTotalBytes) {
    return true;
  }
  return TInformationAdapter::HasObject(name);
}

bool TInfocastAdapter::GetObject(const std::string& name, std::string& value) const {
  if (name == kStatUrl) {
    value = "opch://" + metaChannelAddress_.substr(0, metaChannelAddress_.find('\n'));
    return true;
  }
  if (name == kStatTimeTotal || name == kStatTotalPackets || name == kStatTotalBytes) {
    if (metaChannel_ == nullptr) return true;
    unsigned int number = 0;
    if (name == kStatTimeTotal) {
      number = static_cast<unsigned int>(metaChannel_->GetTimeTotal());
    } else if (name == kStatTotalPackets) {
      number = metaChannel_->GetTotalPackets();
    } else {
      number = metaChannel_->GetTotalBytes();
    }
    value = std::to_string(number);
    return true;
  }
  return TInformationAdapter::GetObject(name, value);
}

bool TInfocastAdapter::IsStorageType(TStorageType storageType) const {
  return storageType == TStorageType(1);
}

bool TInfocastAdapter::IsFetched(const std::string& name) const {
  return callback_ != nullptr && callback_->OnFetchObject(this, name);
}

void TInfocastAdapter::FetchObjects() {
  for (auto& entry : records_) {
    TObjectInfo& record = entry.second;
    if (record.prefetch || record.channel == nullptr) continue;
    const bool wanted = IsFetched(entry.first);
    if (wanted && !record.registered) {
      record.channel->AddObject(entry.first, static_cast<unsigned int>(record.type));
      record.registered = true;
    } else if (!wanted && record.registered && record.countref) {
      record.channel->DropObject(entry.first);
      record.registered = false;
      if (objects_.erase(entry.first) != 0 && callback_ != nullptr) {
        callback_->OnUnsetObject(this, entry.first);
      }
    }
  }
}

// ---- IInfocastChannelCallback ----

bool TInfocastAdapter::OnCompareObject(const std::string& name, const std::string& value) {
  const auto found = objects_.find(name);
  return found != objects_.end() && found->second == value;
}

void TInfocastAdapter::StoreValue(const std::string& name, const std::string& value) {
  if (value.empty()) {
    if (objects_.erase(name) != 0 && callback_ != nullptr) callback_->OnUnsetObject(this, name);
    return;
  }
  std::string stored = value;
  if (dictionary_ != nullptr && dictionary_->ShouldTranslate(name) &&
      dictionary_->IsIalTokenValue(value)) {
    stored = dictionary_->Translate(value);
  }
  objects_[name] = stored;
  if (callback_ != nullptr) callback_->OnSetObject(this, name);
}

void TInfocastAdapter::OnObjectChanged(const std::string& name, const std::string& value) {
  if (name == kUiLocaleName) StoreValue(kUiLanguageName, ConvertLanguageCode(value));
  StoreValue(name, value);
}

void TInfocastAdapter::OnDirectoryChanged(const std::string& name, const std::string& value,
                                          bool directory) {
  const auto found = directories_.find(name);
  if (found == directories_.end()) {
    tracker_->Error("No directory called %s", name.c_str());
    return;
  }
  TInfocastDirectory* changed = found->second.get();
  if (changed->IsExtended() && !directory) return;
  if (!changed->IsExtended() && directory) changed->SetExtended();
  objects_[name] = value;
  if (callback_ != nullptr) callback_->OnSetObject(this, name);

  // Configuration comes from the network: a tree without its root is refused, and the
  // configuration built before stays in force.
  const auto root = directories_.find(RootName());
  if (root == directories_.end() || metaChannel_ == nullptr) {
    tracker_->Error("No root directory found!");
    return;
  }
  boundTraced_ = false;
  CleanupSubDirectories(root->second.get());
  RetireChannels();
  records_.clear();
  BuildupDirectories(root->second.get(), metaChannel_.get());

  for (auto& entry : records_) {
    TObjectInfo& record = entry.second;
    if (record.channel == nullptr) continue;
    if (record.prefetch || IsFetched(entry.first)) {
      record.channel->AddObject(entry.first, static_cast<unsigned int>(record.type));
      record.registered = true;
    }
  }
  ProtectValues({kVarMetaChannel, kFfsMetaChannel, kUtcTime, RootName()});
  RemoveStaleValues();
  ScheduleRelease();
}

void TInfocastAdapter::ProtectValues(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    records_.erase(name);
    records_.emplace(name, TObjectInfo(true, false, 0, nullptr, nullptr));
  }
}

void TInfocastAdapter::RemoveStaleValues() {
  for (auto value = objects_.begin(); value != objects_.end();) {
    const auto record = records_.find(value->first);
    const bool stale =
        record == records_.end() ||
        (!record->second.prefetch && record->second.countref && !IsFetched(value->first));
    if (!stale) {
      ++value;
      continue;
    }
    const std::string name = value->first;
    value = objects_.erase(value);
    if (callback_ != nullptr) callback_->OnUnsetObject(this, name);
  }
}

// A channel whose delivery caused the rebuild is still on the stack: it is silenced now and
// deleted from the loop once that delivery has returned.
void TInfocastAdapter::RetireChannels() {
  for (auto& entry : channels_) {
    TInfocastChannel* channel = entry.second.get();
    channel->Disconnect();
    channel->StopIntervalTimer();
    channel->StopTimeoutTimer();
    retiredChannels_.push_back(std::move(entry.second));
  }
  channels_.clear();
}

void TInfocastAdapter::RetireDirectory(const std::string& name) {
  const auto found = directories_.find(name);
  if (found == directories_.end()) return;
  retiredDirectories_.push_back(std::move(found->second));
  directories_.erase(found);
}

void TInfocastAdapter::ScheduleRelease() {
  if (releaseTimer_ == -1 && (!retiredChannels_.empty() || !retiredDirectories_.empty())) {
    releaseTimer_ = loop_->AddTimeout(0, this);
  }
}

// ---- Directories ----

void TInfocastAdapter::BuildupDirectories(TInfocastDirectory* directory, TInfocastChannel* channel,
                                          int depth) {
  if (depth > kMaxDirectoryDepth) {
    tracker_->Error("TInfocastAdapter: Directory %s is nested deeper than %d levels; ignored",
                    directory->GetDirectoryName().c_str(), kMaxDirectoryDepth);
    return;
  }
  const std::string& name = directory->GetDirectoryName();
  tracker_->Trace("Parsing directory configuration for %s", name.c_str());
  const auto value = objects_.find(name);
  if (channel != nullptr) {
    ParseConfiguration(value == objects_.end() ? std::string() : value->second, directory, channel,
                       directory->IsExtended());
  }
  // A copy: parsing a sub-directory never changes this one's entries, but the copy keeps the
  // walk independent of that.
  const TInfocastDirectory::TSubdirectories subdirectories = directory->GetSubdirectories();
  for (const auto& sub : subdirectories) {
    const auto record = records_.find(sub.first);
    BuildupDirectories(sub.second, record == records_.end() ? nullptr : record->second.channel,
                       depth + 1);
  }
}

void TInfocastAdapter::CleanupSubDirectories(TInfocastDirectory* directory) {
  const TInfocastDirectory::TSubdirectories subdirectories = directory->GetSubdirectories();
  for (const auto& sub : subdirectories) {
    CleanupSubDirectories(sub.second);
    directory->DelSubdirectory(sub.first);
    RetireDirectory(sub.first);
  }
}

// ---- Channels ----

TInfocastChannel* TInfocastAdapter::AddNewChannel(const std::string& address, int port,
                                                  TInfocastChannel::TConnectionType type,
                                                  int interval, int timeout) {
  const std::string key = address + ":" + std::to_string(port);
  const auto found = channels_.find(key);
  if (found != channels_.end()) return found->second.get();
  if (channels_.size() >= kMaxChannels) {
    if (!boundTraced_) {
      tracker_->Error("TInfocastAdapter: More than %zu channels configured; %s ignored",
                      kMaxChannels, key.c_str());
    }
    boundTraced_ = true;
    return nullptr;
  }
  auto channel = std::make_unique<TInfocastChannel>(
      address, port, type, static_cast<unsigned int>(interval), static_cast<unsigned int>(timeout),
      packetBufferSize_, mode_, reader_, *names_, *loop_, clock_, *tracker_);
  channel->SetCallback(this);
  TInfocastChannel* result = channel.get();
  channels_.emplace(key, std::move(channel));
  return result;
}

void TInfocastAdapter::SetRecord(const std::string& name, const TObjectInfo& record) {
  const auto found = records_.find(name);
  if (found != records_.end()) {
    found->second = record;
    return;
  }
  if (records_.size() >= kMaxConfiguredObjects) {
    if (!boundTraced_) {
      tracker_->Error("TInfocastAdapter: More than %zu objects configured; %s ignored",
                      kMaxConfiguredObjects, name.c_str());
    }
    boundTraced_ = true;
    return;
  }
  records_.emplace(name, record);
}

// ---- Configuration ----

void TInfocastAdapter::ParseConfiguration(const std::string& text, TInfocastDirectory* directory,
                                          TInfocastChannel* channel, bool extended) {
  if (extended) {
    ParseExtendedConfiguration(text, directory, channel);
  } else {
    ParseXMLConfiguration(text, directory);
  }
}

void TInfocastAdapter::ParseXMLConfiguration(const std::string& text,
                                             TInfocastDirectory* directory) {
  try {
    TGeneralXmlParser parser;
    parser.Parse(text);
    const TXmlElement& root = parser.GetRootElement();
    if (root.name != "Infocast") throw TException("Unknown root element in infocast configuration");
    for (const TXmlElement& element : root.children) {
      if (element.name != "Channel") {
        throw TException("Unknown element in infocast configuration");
      }
      const std::string& address = Require(element, "address", "Channel has no address attribute");
      in_addr parsed{};
      if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        throw TException("Channel has an invalid IP address");
      }
      const int port = ToInt(Require(element, "port", "Channel has no port attribute"));
      if (port < 1 || port > 65535) throw TException("Channel has invalid port number");
      const std::string& connection =
          Require(element, "connection", "Channel has no connection attribute");
      TInfocastChannel::TConnectionType type;
      if (connection == "Persistent") {
        type = TInfocastChannel::Persistent;
      } else if (connection == "Reconnected") {
        type = TInfocastChannel::Reconnected;
      } else if (connection == "Once") {
        type = TInfocastChannel::Once;
      } else {
        throw TException("Channel has unknown connection type");
      }
      int interval = 0;
      int timeout = 0;
      if (type == TInfocastChannel::Reconnected) {
        interval = ToInt(Require(element, "interval", "Channel has no interval attribute"));
        if (interval < 2 || interval > 86400) {
          throw TException("Channel has invalid interval value");
        }
        timeout = ToInt(Require(element, "timeout", "Channel has no timeout attribute"));
        if (timeout < 1 || timeout >= interval) {
          throw TException("Channel has invalid timeout value");
        }
      }
      TInfocastChannel* channel = AddNewChannel(address, port, type, interval, timeout);
      if (channel == nullptr) return;  // traced; the bound ends this text

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
          const std::string& text = Require(object, "countref", "Object has no countref attribute");
          if (text != "true" && text != "false") {
            throw TException("Object has invalid countref value");
          }
          countref = text == "true";
        }
        SetRecord(name, TObjectInfo(prefetch, countref, 1, directory, channel));
      }
    }
  } catch (const TException& failure) {
    tracker_->Error("TInfocastAdapter: %s", failure.GetText());
  } catch (...) {
    tracker_->Error("TInfocastAdapter: Unknown exception");
  }
}

void TInfocastAdapter::ParseExtendedConfiguration(const std::string& text,
                                                  TInfocastDirectory* directory,
                                                  TInfocastChannel* channel) {
  TInfocastChannel* defaultChannel =
      AddNewChannel(channel->GetAddress(), channel->GetPort(), TInfocastChannel::Persistent, 0, 0);
  if (defaultChannel == nullptr) return;
  size_t position = 0;
  while (position < text.size()) {
    const size_t open = text.find('"', position);
    if (open == std::string::npos) return;
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos) {
      tracker_->Error("Found a start token but didn't found end token in string [%s]",
                      text.substr(open).c_str());
      return;
    }
    std::string entry = text.substr(open + 1, close - open - 1);
    position = close + 1;

    int type = 0;
    int port = 0;
    std::string name;
    std::string address;
    if (!ParseExtendedConfigurationLine(entry, &type, &name, &address, &port)) return;
    if (name.empty()) continue;
    name = TranslateName(name);
    if (type != 0x1 && type != 0xC000) {
      tracker_->Warning("Objects with type %d is not supported", type);
      continue;
    }
    if (type == 0xC000) {
      // Each name is one node: a text naming a directory that already exists (the root, or
      // itself) would otherwise make the tree a cycle.
      if (directories_.count(name) != 0) {
        tracker_->Error("TInfocastAdapter: Directory %s is configured twice; ignored",
                        name.c_str());
        continue;
      }
      auto sub = std::make_unique<TInfocastDirectory>(name, *tracker_);
      sub->SetExtended();
      directory->AddSubdirectory(sub.get());
      directories_.emplace(name, std::move(sub));
    }
    TInfocastChannel* entryChannel =
        port < 1 ? defaultChannel
                 : AddNewChannel(address, port, TInfocastChannel::Persistent, 0, 0);
    if (entryChannel == nullptr) continue;
    SetRecord(name, TObjectInfo(true, false, type, directory, entryChannel));
  }
}

bool TInfocastAdapter::ParseExtendedConfigurationLine(std::string& line, int* type,
                                                      std::string* name, std::string* address,
                                                      int* port) {
  *type = 0;
  *port = 0;
  name->clear();
  address->clear();
  const size_t first = line.find_first_not_of(kWhitespace);
  const size_t apostrophe = first == std::string::npos ? first : line.find('\'', first);
  if (apostrophe == std::string::npos) {
    tracker_->Warning("Didn't found a spearator between type and name in string [%s]",
                      line.c_str());
    return false;
  }
  std::string typeText = line.substr(first, apostrophe - first);
  typeText = typeText.substr(0, typeText.find_first_of(kWhitespace));
  const long long typeValue = ToNumber(typeText, 16);
  *type = typeValue > INT_MAX || typeValue < INT_MIN ? INT_MAX : static_cast<int>(typeValue);

  const size_t second = line.find('\'', apostrophe + 1);
  if (second == std::string::npos) {
    const size_t start = line.find_first_not_of(kWhitespace, apostrophe + 1);
    if (start != std::string::npos) {
      const size_t end = line.find_first_of(kWhitespace, start);
      *name = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    return true;
  }
  *name = Trim(line.substr(apostrophe + 1, second - apostrophe - 1));
  const size_t colon = line.find(':', second + 1);
  if (colon == std::string::npos) {
    tracker_->Warning("Didn't find a colon in the ip:port portion of string [%s]", line.c_str());
    return false;
  }
  size_t start = second + 1;
  while (start < colon && IsWhitespace(line[start])) ++start;
  *address = line.substr(start, colon - start);
  *port = ToInt(line.substr(colon + 1));
  return true;
}

// ---- Timers ----

void TInfocastAdapter::HandleTimeout(int identifier) {
  if (identifier == reconnectTimer_) {
    ReconnectToChannel();
  } else if (identifier == statisticsTimer_) {
    if (metaChannel_ == nullptr) return;
    const TStringList names = {kStatUrl, kStatTimeTotal, kStatTotalPackets, kStatTotalBytes};
    TStringList values;
    for (const std::string& name : names) {
      std::string value;
      GetObject(name, value);
      values.push_back(value);
    }
    try {
      service_->SetObjects(names, values, std::vector<TStorageType>(names.size(), TStorageType(1)));
    } catch (const TException& failure) {
      tracker_->Error("InfocastAdapter: StatisticsTimer: %s", failure.GetText());
    }
  } else if (identifier == releaseTimer_) {
    StopTimer(releaseTimer_);
    retiredChannels_.clear();
    retiredDirectories_.clear();
  } else {
    tracker_->Error("InfocastAdapter: Received callback for unknown timer (%d)", identifier);
  }
}

void TInfocastAdapter::ReconnectToChannel() {
  // Non-blocking, so that a FIFO under that name cannot stop the loop.
  TUniqueFd file(::open(addressFile_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.Get() < 0) {
    tracker_->Trace("InfocastAdapter: Can not open file: %s", addressFile_.c_str());
    return;
  }
  char buffer[kAddressFileBytes];
  const ssize_t length = ::read(file.Get(), buffer, sizeof buffer);
  if (length <= 0) {
    tracker_->Trace("InfocastAdapter: Can not read file: %s", addressFile_.c_str());
    return;
  }
  const std::string address(buffer, static_cast<size_t>(length));
  if (address.find(':') == std::string::npos) {
    tracker_->Warning("Invalid metachannel address: %s", address.c_str());
    return;
  }
  if (address == metaChannelAddress_) return;
  metaChannelAddress_ = address;
  tracker_->Trace("InfocastAdapter: New metachannel address set: %s", address.c_str());

  // Called from the loop's timer, never from a channel: everything can go at once.
  metaChannel_.reset();
  directories_.clear();
  channels_.clear();
  records_.clear();
  ProtectValues({kVarMetaChannel, kFfsMetaChannel, kUtcTime});
  RemoveStaleValues();
  InitializeObjects();
}

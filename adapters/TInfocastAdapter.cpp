#include "adapters/TInfocastAdapter.h"

#include <climits>
#include <cstdlib>
#include <set>

#include "base/TException.h"
#include "infocast/TInfocastHeader.h"
#include "os/ReadFileUpTo.h"
#include "translation/LanguageCodes.h"

namespace {

constexpr const char* kVarMetaChannel = "var.ip.metachannel";
constexpr const char* kFfsMetaChannel = "_ffs.cfg.ip.metachannel";
constexpr const char* kUtcTime = "_metachannel.utctime";
constexpr const char* kInfocastInfo = "_metachannel.infocastinfo";
constexpr const char* kInfocast2Conf = "_metachannel.infocast2.conf";
constexpr const char* kBootcastInfo = "_metachannel.bootcastinfo";

// The port of an address text as atoi reads it, without its undefined overflow.
int ToPort(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

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
      reader_(*service),
      parser_(*names, *tracker_) {}

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
      metaChannelAddress_.substr(0, colon), ToPort(metaChannelAddress_.substr(colon + 1)),
      TInfocastChannel::Persistent, 0, 0, packetBufferSize_, mode_, reader_, *names_, *loop_,
      clock_, *tracker_);
  metaChannel_->SetCallback(this);
  metaChannel_->AddObject(RootName(), mode_ == TInfocastChannel::Opch
                                          ? TInfocastHeader::kTypeProductInfo
                                          : TInfocastHeader::kTypeInformationObject);
  metaChannel_->AddObject(kUtcTime, TInfocastHeader::kTypeUtcTime);
  metaChannel_->AddObject(kBootcastInfo, TInfocastHeader::kTypeBootcastInfo);

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
    TObjectRecord& record = entry.second;
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
  if (const char* copy = LanguageCopyOf(name)) StoreValue(copy, ConvertLanguageCode(value));
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
    TObjectRecord& record = entry.second;
    if (record.channel == nullptr) continue;
    if (record.prefetch || IsFetched(entry.first)) {
      record.channel->AddObject(entry.first, static_cast<unsigned int>(record.type));
      record.registered = true;
    }
  }
  // The meta channel's own objects stay: the bootcast object in particular is not delivered
  // again while its CRC-32 is unchanged.
  ProtectValues({kVarMetaChannel, kFfsMetaChannel, kUtcTime, kBootcastInfo, RootName()});
  RemoveStaleValues();
  ScheduleRelease();
}

void TInfocastAdapter::ProtectValues(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    records_.erase(name);
    records_.emplace(name, TObjectRecord(true, false, 0, nullptr, nullptr));
  }
}

bool TInfocastAdapter::IsStale(const std::string& name) const {
  const auto record = records_.find(name);
  return record == records_.end() ||
         (!record->second.prefetch && record->second.countref && !IsFetched(name));
}

// A value goes when nothing configures it any more. The platform's language copy has no
// record of its own: it stays while the locale it was derived from stays, since the locale's
// unchanged value will not arrive again to bring it back.
void TInfocastAdapter::RemoveStaleValues() {
  std::vector<std::string> stale;
  std::set<std::string> copies;
  for (const auto& value : objects_) {
    if (IsStale(value.first)) {
      stale.push_back(value.first);
    } else if (const char* copy = LanguageCopyOf(value.first)) {
      copies.insert(copy);
    }
  }
  for (const std::string& name : stale) {
    if (copies.count(name) != 0 || objects_.erase(name) == 0) continue;
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
    releaseTimer_ = loop_->AddOneShotTimeout(0, this);
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
    ApplyConfiguration(value == objects_.end() ? std::string() : value->second, directory, channel);
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

void TInfocastAdapter::SetRecord(const std::string& name, const TObjectRecord& record) {
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

void TInfocastAdapter::ApplyConfiguration(const std::string& text, TInfocastDirectory* directory,
                                          TInfocastChannel* carrier) {
  if (directory->IsExtended()) {
    ApplyExtended(parser_.ParseExtended(text, carrier->GetAddress(), carrier->GetPort()),
                  directory);
  } else {
    ApplyXml(parser_.ParseXml(text), directory);
  }
}

TInfocastChannel* TInfocastAdapter::AddNewChannel(const TInfocastChannelRecord& record) {
  return AddNewChannel(record.address, record.port, record.connection, record.interval,
                       record.timeout);
}

// The XML records come channel by channel; a channel past the bound ends the text.
void TInfocastAdapter::ApplyXml(const TInfocastConfiguration& configuration,
                                TInfocastDirectory* directory) {
  auto object = configuration.objects.begin();
  for (size_t index = 0; index < configuration.channels.size(); ++index) {
    TInfocastChannel* channel = AddNewChannel(configuration.channels[index]);
    if (channel == nullptr) return;  // traced
    for (; object != configuration.objects.end() && object->channel == index; ++object) {
      SetRecord(object->name, TObjectRecord(object->prefetch, object->countref, object->type,
                                            directory, channel));
    }
  }
}

void TInfocastAdapter::ApplyExtended(const TInfocastConfiguration& configuration,
                                     TInfocastDirectory* directory) {
  TInfocastChannel* carrier = AddNewChannel(configuration.channels.front());
  if (carrier == nullptr) return;
  for (const TInfocastObjectRecord& object : configuration.objects) {
    if (object.type == TInfocastHeader::kTypeDirectory &&
        !AddSubdirectory(object.name, directory)) {
      continue;
    }
    TInfocastChannel* channel =
        object.channel == 0 ? carrier : AddNewChannel(configuration.channels[object.channel]);
    if (channel == nullptr) continue;
    SetRecord(object.name, TObjectRecord(true, false, object.type, directory, channel));
  }
}

bool TInfocastAdapter::AddSubdirectory(const std::string& name, TInfocastDirectory* parent) {
  // Each name is one node: a text naming a directory that already exists (the root, or
  // itself) would otherwise make the tree a cycle.
  if (directories_.count(name) != 0) {
    tracker_->Error("TInfocastAdapter: Directory %s is configured twice; ignored", name.c_str());
    return false;
  }
  auto sub = std::make_unique<TInfocastDirectory>(name, *tracker_);
  sub->SetExtended();
  parent->AddSubdirectory(sub.get());
  directories_.emplace(name, std::move(sub));
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
    releaseTimer_ = -1;
    retiredChannels_.clear();
    retiredDirectories_.clear();
  } else {
    tracker_->Error("InfocastAdapter: Received callback for unknown timer (%d)", identifier);
  }
}

void TInfocastAdapter::ReconnectToChannel() {
  std::string address;
  const TFileRead read = ReadFileUpTo(addressFile_, kAddressFileBytes, address);
  if (read == TFileRead::kOpenFailed) {
    tracker_->Trace("InfocastAdapter: Can not open file: %s", addressFile_.c_str());
    return;
  }
  if (read == TFileRead::kReadFailed || address.empty()) {
    tracker_->Trace("InfocastAdapter: Can not read file: %s", addressFile_.c_str());
    return;
  }
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

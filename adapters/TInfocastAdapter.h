// The adapter through which information objects received over Infocast enter the store. It
// owns the meta channel (address from -m, later from the -e address file) and every channel
// its configuration names, applies the records that TInfocastConfigurationParser makes of the
// configuration objects (XML or the extended quoted-line syntax), keeps the received values in the
// base's map, publishes reception statistics every 2000 ms and follows a changed address file. It
// holds the service, the name translator, the dictionary, the loop and the clock without
// owning them. Runs on the loop thread.
//
// Everything a configuration can make the box do is bounded: kMaxChannels sockets,
// kMaxConfiguredObjects object records and kMaxDirectoryDepth levels of sub-directories; past
// a bound the entry is dropped with an error trace. Channels and directories replaced by a
// rebuild are released only after the delivery that caused it has returned to the loop,
// since that delivery may come from one of them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "infocast/IInfocastChannelCallback.h"
#include "infocast/TInfocastChannel.h"
#include "infocast/TInfocastConfigurationParser.h"
#include "infocast/TInfocastDirectory.h"
#include "os/IClock.h"
#include "os/IIOEventLoop.h"
#include "os/IIOTimeoutHandler.h"
#include "service/IInformationService.h"
#include "service/TInformationAdapter.h"
#include "service/TServiceObjectReader.h"
#include "translation/IIalTokenValueDictionary.h"
#include "translation/INameTranslator.h"

class TInfocastAdapter final : public TInformationAdapter,
                               public IInfocastChannelCallback,
                               public IIOTimeoutHandler {
 public:
  // One configured object.
  struct TObjectRecord {
    TObjectRecord(bool prefetch, bool countref, int type, TInfocastDirectory* directory,
                  TInfocastChannel* channel)
        : prefetch(prefetch),
          countref(countref),
          channel(channel),
          directory(directory),
          type(type) {}
    bool prefetch;
    bool countref;
    TInfocastChannel* channel;      // null for the records that only protect a value
    TInfocastDirectory* directory;  // whose configuration named the object
    bool registered = false;        // currently added to its channel
    int type;
  };

  static constexpr unsigned int kTimerMs = 2000;
  static constexpr size_t kAddressFileBytes = 1024;
  static constexpr size_t kMaxChannels = 128;
  static constexpr size_t kMaxConfiguredObjects = 8192;
  static constexpr int kMaxDirectoryDepth = 8;

  static constexpr const char* kStatUrl = "stat.infocast.0.url";
  static constexpr const char* kStatTimeTotal = "stat.infocast.0.time.total";
  static constexpr const char* kStatTotalPackets = "stat.infocast.0.totalpackets";
  static constexpr const char* kStatTotalBytes = "stat.infocast.0.totalbytes";

  // Stores the arguments; nothing starts before InitializeObjects. dictionary may be null (no
  // token translation).
  TInfocastAdapter(const std::string& metaChannelAddress, const std::string& addressFile,
                   unsigned int packetBufferSize, TInfocastChannel::TMode mode,
                   IInformationService* service, const INameTranslator* names,
                   IIalTokenValueDictionary* dictionary, IIOEventLoop* loop,
                   IClock& clock = IClock::System());
  // Removes both timers and deletes every channel and directory.
  ~TInfocastAdapter() override;

  // IInformationAdapter
  // (Re)starts both timers and, for an address with a colon, the meta channel and the root
  // directory; else warns "Invalid metachannel address: %s".
  void InitializeObjects() override;
  bool HasObject(const std::string& name) const override;
  bool GetObject(const std::string& name, std::string& value) const override;
  // True for the volatile type only.
  bool IsStorageType(TStorageType storageType) const override;
  // Adds the OnRequest objects somebody subscribes to, drops the countref ones nobody does.
  void FetchObjects() override;

  // IInfocastChannelCallback
  bool OnCompareObject(const std::string& name, const std::string& value) override;
  void OnObjectChanged(const std::string& name, const std::string& value) override;
  void OnDirectoryChanged(const std::string& name, const std::string& value,
                          bool directory) override;

  // IIOTimeoutHandler: reconnect, statistics and the release of retired channels.
  void HandleTimeout(int identifier) override;

  // The channel for address and port, created on first use (with the adapter's buffer size,
  // mode and callback); an existing one is returned unchanged. Null, traced, past
  // kMaxChannels.
  TInfocastChannel* AddNewChannel(const std::string& address, int port,
                                  TInfocastChannel::TConnectionType type, int interval,
                                  int timeout);

  // Test hooks (and the benchmark's).
  const std::map<std::string, TObjectRecord>& TEST_GetObjectRecords() const { return records_; }
  const std::map<std::string, std::unique_ptr<TInfocastChannel>>& TEST_GetChannels() const {
    return channels_;
  }
  TInfocastChannel* TEST_GetMetaChannel() const { return metaChannel_.get(); }
  size_t TEST_GetDirectoryCount() const { return directories_.size(); }
  size_t TEST_GetRetiredCount() const {
    return retiredChannels_.size() + retiredDirectories_.size();
  }

 private:
  // The records of a directory's text, applied: channels made (or shared), sub-directories
  // entered, object records set. carrier is the channel the text arrived on.
  void ApplyConfiguration(const std::string& text, TInfocastDirectory* directory,
                          TInfocastChannel* carrier);
  void ApplyXml(const TInfocastConfiguration& configuration, TInfocastDirectory* directory);
  void ApplyExtended(const TInfocastConfiguration& configuration, TInfocastDirectory* directory);
  TInfocastChannel* AddNewChannel(const TInfocastChannelRecord& record);
  // An extended sub-directory under parent; false, traced, for a name already in the tree.
  bool AddSubdirectory(const std::string& name, TInfocastDirectory* parent);
  void BuildupDirectories(TInfocastDirectory* directory, TInfocastChannel* channel, int depth = 0);
  void CleanupSubDirectories(TInfocastDirectory* directory);
  void ReconnectToChannel();
  std::string RootName() const;
  bool IsStale(const std::string& name) const;
  void StoreValue(const std::string& name, const std::string& value);
  void ProtectValues(const std::vector<std::string>& names);
  void RemoveStaleValues();
  void RetireChannels();
  void RetireDirectory(const std::string& name);
  void ScheduleRelease();
  void StopTimer(int& identifier);
  bool IsFetched(const std::string& name) const;
  void SetRecord(const std::string& name, const TObjectRecord& record);

  std::string metaChannelAddress_;
  std::string addressFile_;
  unsigned int packetBufferSize_;
  TInfocastChannel::TMode mode_;
  IInformationService* service_;
  const INameTranslator* names_;
  IIalTokenValueDictionary* dictionary_;
  IIOEventLoop* loop_;
  IClock& clock_;
  TServiceObjectReader reader_;
  TInfocastConfigurationParser parser_;
  int reconnectTimer_ = -1;
  int statisticsTimer_ = -1;
  int releaseTimer_ = -1;
  bool boundTraced_ = false;  // one trace per rebuild when a bound is hit
  std::unique_ptr<TInfocastChannel> metaChannel_;
  std::map<std::string, std::unique_ptr<TInfocastChannel>> channels_;
  std::map<std::string, TObjectRecord> records_;
  std::map<std::string, std::unique_ptr<TInfocastDirectory>> directories_;
  std::vector<std::unique_ptr<TInfocastChannel>> retiredChannels_;
  std::vector<std::unique_ptr<TInfocastDirectory>> retiredDirectories_;
};

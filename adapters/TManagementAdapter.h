// The objects pushed by the remote management source: owns one management channel, opened
// on the source's address ("HOST:PORT") when the adapter is initialised, and keeps every
// object received on it in the base's map, volatile and nowhere else. New, changed and
// withdrawn objects are reported to the service; an object that arrives again unchanged is
// not. It takes no writes from clients (the base's defaults), and comes last in the service's
// list, so every other adapter shadows it. Runs on the loop thread.
//
// Anything on the segment can send to the channel, so what the adapter holds is bounded: an
// object that would take it past kMaxObjects objects or kMaxTotalBytes bytes (names and
// values) is refused with a warning each time a datagram delivers it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "infocast/IInfocastChannelCallback.h"
#include "infocast/IInformationObjectReader.h"
#include "infocast/TManagementChannel.h"
#include "os/IClock.h"
#include "os/IIOEventLoop.h"
#include "service/TInformationAdapter.h"

class TManagementAdapter final : public TInformationAdapter, public IInfocastChannelCallback {
 public:
  static constexpr size_t kMaxObjects = 1024;
  static constexpr size_t kMaxTotalBytes = 4 * 1024 * 1024;

  struct TLimits {
    size_t maxObjects;
    size_t maxTotalBytes;
  };

  // Stores the arguments; opens nothing. reader and loop must outlive the adapter; the
  // channel reads the box's objects for its filters through reader. The system clock and
  // the limits above.
  TManagementAdapter(const std::string& address, unsigned int maxPacketSize,
                     IInformationObjectReader& reader, IIOEventLoop& loop);
  // The same with the clock of the filters and the limits given (clock must outlive it).
  TManagementAdapter(const std::string& address, unsigned int maxPacketSize,
                     IInformationObjectReader& reader, IIOEventLoop& loop, const IClock& clock,
                     TLimits limits);
  // Stops and deletes the channel. Must not run while the channel delivers (IsDelivering).
  ~TManagementAdapter() override;

  // The channel, once InitializeObjects made one; null for an address without a colon.
  TManagementChannel* GetChannel() const { return channel_.get(); }
  const std::string& GetAddress() const { return address_; }
  // True while the channel is inside one of the callbacks below: the adapter and its channel
  // are on the stack and must outlive the call.
  bool IsDelivering() const { return delivering_ != 0; }
  // The bytes held, names and values.
  size_t GetTotalBytes() const { return totalBytes_; }
  // Stops the channel (nothing more arrives) and reports every object held, but `keep`, as
  // unset through the callback; the objects stay in the map. For an adapter that has left
  // the service's list, where a removal reaches subscribers only if nobody else holds the
  // name.
  void Retire(const std::string& keep);

  // IInformationAdapter
  // Parses "HOST:PORT" (the first colon; the port as atoi reads it), creates the channel with
  // this adapter as its callback and starts it. Without a colon: the warning "Invalid
  // management channel address: %s" and no channel.
  void InitializeObjects() override;
  void FetchObjects() override;

  // IInfocastChannelCallback
  bool OnCompareObject(const std::string& name, const std::string& value) override;
  // An empty value removes the object (reported unset even when it was not held); any other
  // value is stored and reported set, unless the limits refuse it.
  void OnObjectChanged(const std::string& name, const std::string& value) override;
  void OnDirectoryChanged(const std::string& name, const std::string& value,
                          bool directory) override;

 private:
  bool Admits(const std::string& name, const std::string& value) const;

  std::unique_ptr<TManagementChannel> channel_;
  std::string address_;
  unsigned int maxPacketSize_;
  IInformationObjectReader& reader_;
  IIOEventLoop& loop_;
  const IClock& clock_;
  TLimits limits_;
  size_t totalBytes_ = 0;
  int delivering_ = 0;
};

// Watches cfg.ip.rmtsource, the address ("HOST:PORT") of the remote management source, and
// keeps exactly one management adapter for it at the end of the service's list: started at
// the first report, replaced when the value changes, kept when it does not. Replacing first
// retires the old adapter (out of the list, its channel stopped, each of its objects that no
// other adapter holds reported removed so that watchers see it go), then starts the new one.
// Runs on the loop thread, inside the service's handling of an adapter's report.
//
// The old adapter may be the one reporting (the source sent a new cfg.ip.rmtsource itself):
// it is deleted only after the delivery has returned, from a zero-delay one-shot timeout. Its
// cfg.ip.rmtsource is not reported removed: that report is the change being handled.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "adapters/TManagementAdapter.h"
#include "infocast/IInformationObjectReader.h"
#include "os/IIOEventLoop.h"
#include "os/IIOTimeoutHandler.h"
#include "service/IAdapterList.h"
#include "service/ILocalInformationMonitor.h"

class TManagementMonitor final : public ILocalInformationMonitor, public IIOTimeoutHandler {
 public:
  static constexpr const char* kSourceName = "cfg.ip.rmtsource";
  static constexpr unsigned int kMaxPacketSize = 1600;

  // adapters, reader and loop must outlive the monitor. The monitor reads cfg.ip.rmtsource
  // through reader, and its adapters' channels read their filters' objects through it.
  TManagementMonitor(IAdapterList& adapters, IInformationObjectReader& reader, IIOEventLoop& loop);
  // Deletes retired adapters still waiting; the current one is the adapter list's.
  ~TManagementMonitor() override;

  // ILocalInformationMonitor
  // For cfg.ip.rmtsource: reads its value; starts the adapter at the first report, replaces
  // it when the value differs from the one it was started with. Read failures with code 202
  // and 201 are traced ("Failed to retreive value of %s: Permission denied", "... Invalid
  // argument"); the adapter stays.
  void ObjectUpdate(const std::string& name) override;

  // IIOTimeoutHandler: deletes the retired adapters.
  void HandleTimeout(int identifier) override;

  // Test hooks: the adapter started last (null before the first report), the address it was
  // started with, and the adapters waiting for deletion.
  TManagementAdapter* TEST_GetAdapter() const { return adapter_; }
  const std::string& TEST_GetAddress() const { return address_; }
  size_t TEST_GetRetiredCount() const { return retired_.size(); }

 private:
  // Creates a new adapter for address_ and starts it at the end of the list.
  void StartAdapter();
  // Takes the current adapter out of the list and retires it; deletes it now or, while it
  // delivers, after the delivery.
  void RetireAdapter();

  IAdapterList& adapters_;
  IInformationObjectReader& reader_;
  IIOEventLoop& loop_;
  TManagementAdapter* adapter_ = nullptr;  // owned by the adapter list
  std::string address_;
  std::vector<std::unique_ptr<IInformationAdapter>> retired_;
  int deleteTimer_ = -1;
};

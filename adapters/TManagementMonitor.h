// Watches cfg.ip.rmtsource, the address ("HOST:PORT") of the remote management source, and
// keeps exactly one management adapter for it at the end of the service's list: started at
// the first report, replaced when the value changes, kept when it does not. Replacing drops
// what the old source sent; each dropped object that no other adapter holds is reported as
// removed, so that watchers see it go. Runs on the loop thread, inside the service's handling
// of an adapter's report.
//
// The old adapter may be the one reporting (the source sent a new cfg.ip.rmtsource itself):
// its channel is stopped at once, but the adapter and channel are deleted only after the
// delivery has returned, from a zero-delay timeout of the loop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "adapters/TManagementAdapter.h"
#include "os/IIOEventLoop.h"
#include "os/IIOTimeoutHandler.h"
#include "service/ILocalInformationMonitor.h"
#include "service/TInformationService.h"

class TManagementMonitor final : public ILocalInformationMonitor, public IIOTimeoutHandler {
 public:
  static constexpr const char* kSourceName = "cfg.ip.rmtsource";
  static constexpr unsigned int kMaxPacketSize = 1600;

  // owner and loop must outlive the monitor; the caller registers it with AddMonitor.
  TManagementMonitor(TInformationService* owner, IIOEventLoop* loop);
  // Deletes retired adapters still waiting; the current one is the service's.
  ~TManagementMonitor() override;

  // ILocalInformationMonitor
  void SetOwner(TInformationService* owner) override;
  // For cfg.ip.rmtsource: reads its value; starts the adapter at the first report, replaces
  // it when the value differs from the one it was started with. True when it started one.
  // Read failures with code 202 and 201 are traced ("Failed to retreive value of %s:
  // Permission denied", "... Invalid argument") and return false; the adapter stays.
  bool ObjectUpdate(const std::string& name) override;

  // IIOTimeoutHandler: deletes the retired adapters.
  void HandleTimeout(int identifier) override;

  // The adapter started last; null before the first report.
  TManagementAdapter* GetAdapter() const { return adapter_; }
  const std::string& GetAddress() const { return address_; }
  // Adapters removed from the service and waiting for deletion.
  size_t GetRetiredCount() const { return retired_.size(); }

 private:
  // Creates, adds, calls back and initialises a new adapter for address_.
  void StartAdapter();
  // Takes the replaced adapter out of the service, stops its channel, reports its objects
  // gone and deletes it now or, while it delivers, after the delivery.
  void RetireAdapter(TManagementAdapter* adapter);

  TInformationService* owner_;
  IIOEventLoop* loop_;
  TManagementAdapter* adapter_ = nullptr;
  std::string address_;
  std::vector<std::unique_ptr<TManagementAdapter>> retired_;
  int deleteTimer_ = -1;
};

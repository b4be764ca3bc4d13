#include "adapters/TManagementMonitor.h"

#include "base/TException.h"
#include "base/TTracker.h"

namespace {

constexpr int kInvalidArgument = 201;
constexpr int kPermissionDenied = 202;

}  // namespace

TManagementMonitor::TManagementMonitor(IAdapterList& adapters, IInformationObjectReader& reader,
                                       IIOEventLoop& loop)
    : adapters_(adapters), reader_(reader), loop_(loop) {}

TManagementMonitor::~TManagementMonitor() {
  if (deleteTimer_ != -1) loop_.RemoveTimeout(deleteTimer_);
}

void TManagementMonitor::ObjectUpdate(const std::string& name) {
  if (name != kSourceName) return;
  try {
    const std::string value = reader_.GetObject(name);
    if (adapter_ && value == address_) return;
    address_ = value;
    if (adapter_) RetireAdapter();
    StartAdapter();
  } catch (const TDispatchableException& e) {
    TTracker* tracker = TTracker::GetProcessTracker();
    if (e.GetCode() == kPermissionDenied) {
      tracker->Error("Failed to retreive value of %s: Permission denied", name.c_str());
    } else if (e.GetCode() == kInvalidArgument) {
      tracker->Error("Failed to retreive value of %s: Invalid argument", name.c_str());
    } else {
      throw;
    }
  }
}

void TManagementMonitor::StartAdapter() {
  auto adapter = std::make_unique<TManagementAdapter>(address_, kMaxPacketSize, reader_, loop_);
  adapter_ = adapter.get();
  adapters_.StartAdapter(std::move(adapter));
}

void TManagementMonitor::RetireAdapter() {
  TManagementAdapter* old = adapter_;
  adapter_ = nullptr;
  std::unique_ptr<IInformationAdapter> owned = adapters_.RemoveAdapter(old);
  old->Retire(kSourceName);
  if (!old->IsDelivering()) return;
  retired_.push_back(std::move(owned));
  if (deleteTimer_ == -1) deleteTimer_ = loop_.AddOneShotTimeout(0, this);
}

void TManagementMonitor::HandleTimeout(int identifier) {
  if (identifier != deleteTimer_) return;
  deleteTimer_ = -1;
  retired_.clear();
}

#include "adapters/TManagementMonitor.h"

#include "base/TException.h"
#include "base/TTracker.h"

namespace {

constexpr int kInvalidArgument = 201;
constexpr int kPermissionDenied = 202;

}  // namespace

TManagementMonitor::TManagementMonitor(TInformationService* owner, IIOEventLoop* loop)
    : owner_(owner), loop_(loop) {}

TManagementMonitor::~TManagementMonitor() {
  if (deleteTimer_ != -1) loop_->RemoveTimeout(deleteTimer_);
}

void TManagementMonitor::SetOwner(TInformationService* owner) { owner_ = owner; }

bool TManagementMonitor::ObjectUpdate(const std::string& name) {
  if (name != kSourceName) return false;
  try {
    std::string value;
    owner_->GetObject(name, value);
    if (adapter_ && value == address_) return false;
    address_ = value;
    TManagementAdapter* old = adapter_;
    StartAdapter();
    if (old) RetireAdapter(old);
    return true;
  } catch (const TDispatchableException& e) {
    TTracker* tracker = TTracker::GetProcessTracker();
    if (e.GetCode() == kPermissionDenied) {
      tracker->Error("Failed to retreive value of %s: Permission denied", name.c_str());
    } else if (e.GetCode() == kInvalidArgument) {
      tracker->Error("Failed to retreive value of %s: Invalid argument", name.c_str());
    } else {
      throw;
    }
    return false;
  }
}

void TManagementMonitor::StartAdapter() {
  adapter_ = new TManagementAdapter(address_, kMaxPacketSize, owner_, loop_);
  owner_->AddAdapter(adapter_);
  adapter_->SetCallback(owner_);
  adapter_->InitializeObjects();
}

void TManagementMonitor::RetireAdapter(TManagementAdapter* adapter) {
  std::unique_ptr<TManagementAdapter> old(adapter);
  owner_->RemoveAdapter(old.get());
  old->StopChannel();
  // Out of the list, the old adapter ranks nowhere: the service reports a removal only where
  // no adapter holds the name any more. The new adapter is in place and starts empty, so a
  // monitor reached from here sees the new state.
  for (const std::string& name : old->GetObjectNames()) owner_->OnUnsetObject(old.get(), name);
  if (!old->IsDelivering()) return;
  retired_.push_back(std::move(old));
  if (deleteTimer_ == -1) deleteTimer_ = loop_->AddTimeout(0, this);
}

void TManagementMonitor::HandleTimeout(int identifier) {
  if (identifier != deleteTimer_) return;
  loop_->RemoveTimeout(deleteTimer_);
  deleteTimer_ = -1;
  retired_.clear();
}

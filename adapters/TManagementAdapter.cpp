#include "adapters/TManagementAdapter.h"

#include <cstdlib>

TManagementAdapter::TManagementAdapter(const std::string& address, unsigned int maxPacketSize,
                                       IInformationObjectReader& reader, IIOEventLoop& loop)
    : TManagementAdapter(address, maxPacketSize, reader, loop, IClock::System(),
                         TLimits{kMaxObjects, kMaxTotalBytes}) {}

TManagementAdapter::TManagementAdapter(const std::string& address, unsigned int maxPacketSize,
                                       IInformationObjectReader& reader, IIOEventLoop& loop,
                                       const IClock& clock, TLimits limits)
    : address_(address),
      maxPacketSize_(maxPacketSize),
      reader_(reader),
      loop_(loop),
      clock_(clock),
      limits_(limits) {}

TManagementAdapter::~TManagementAdapter() {
  if (channel_) channel_->Stop();
}

void TManagementAdapter::Retire(const std::string& keep) {
  if (channel_) channel_->Stop();
  if (callback_ == nullptr) return;
  // A copy of the names: a report may reach code that reads this adapter.
  std::vector<std::string> names;
  for (const auto& entry : objects_) {
    if (entry.first != keep) names.push_back(entry.first);
  }
  for (const std::string& name : names) callback_->OnUnsetObject(this, name);
}

void TManagementAdapter::InitializeObjects() {
  const size_t colon = address_.find(':');
  if (colon == std::string::npos) {
    tracker_->Warning("Invalid management channel address: %s", address_.c_str());
    return;
  }
  const std::string host = address_.substr(0, colon);
  const int port = std::atoi(address_.c_str() + colon + 1);
  channel_ = std::make_unique<TManagementChannel>(host, port, 0, maxPacketSize_, reader_, loop_,
                                                  clock_, *tracker_);
  channel_->SetCallback(this);
  channel_->Start();
}

void TManagementAdapter::FetchObjects() {}

bool TManagementAdapter::OnCompareObject(const std::string& name, const std::string& value) {
  const auto found = objects_.find(name);
  return found != objects_.end() && found->second == value;
}

bool TManagementAdapter::Admits(const std::string& name, const std::string& value) const {
  const auto found = objects_.find(name);
  const size_t held = found == objects_.end() ? 0 : name.size() + found->second.size();
  if (found == objects_.end() && objects_.size() >= limits_.maxObjects) {
    tracker_->Warning("TManagementAdapter: Object '%s' refused; %zu objects are held already",
                      name.c_str(), objects_.size());
    return false;
  }
  const size_t after = totalBytes_ - held + name.size() + value.size();
  if (after > limits_.maxTotalBytes) {
    tracker_->Warning("TManagementAdapter: Object '%s' refused; it would take %zu bytes past %zu",
                      name.c_str(), after, limits_.maxTotalBytes);
    return false;
  }
  return true;
}

void TManagementAdapter::OnObjectChanged(const std::string& name, const std::string& value) {
  // The report may reach the management monitor, which then replaces this adapter: it must
  // see that this one is still on the stack.
  struct TDelivery {
    explicit TDelivery(int& depth) : depth_(depth) { ++depth_; }
    ~TDelivery() { --depth_; }
    int& depth_;
  } delivery(delivering_);
  if (value.empty()) {
    const auto found = objects_.find(name);
    if (found != objects_.end()) {
      totalBytes_ -= name.size() + found->second.size();
      objects_.erase(found);
    }
    if (callback_) callback_->OnUnsetObject(this, name);
  } else if (Admits(name, value)) {
    auto [entry, inserted] = objects_.try_emplace(name);
    if (!inserted) totalBytes_ -= name.size() + entry->second.size();
    entry->second = value;
    totalBytes_ += name.size() + value.size();
    if (callback_) callback_->OnSetObject(this, name);
  }
}

void TManagementAdapter::OnDirectoryChanged(const std::string&, const std::string&, bool) {}

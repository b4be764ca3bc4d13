#include "adapters/TVolatileAdapter.h"

TVolatileAdapter::TVolatileAdapter() = default;
TVolatileAdapter::~TVolatileAdapter() = default;

bool TVolatileAdapter::IsStorageType(TStorageType storageType) const {
  return storageType == IToiInformationService::eVolatile;
}

void TVolatileAdapter::SetObject(const std::string& name, const std::string& value) {
  auto found = objects_.find(name);
  if (found != objects_.end() && found->second == value) return;
  objects_[name] = value;
  if (callback_) callback_->OnSetObject(this, name);
}

void TVolatileAdapter::UnsetObject(const std::string& name) {
  if (objects_.erase(name) == 0) return;
  if (callback_) callback_->OnUnsetObject(this, name);
}

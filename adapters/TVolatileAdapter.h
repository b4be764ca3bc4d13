// The storage for volatile objects (storage type 1): values that clients set to live only as
// long as the daemon runs. They are held in the base's object map and nowhere else; nothing
// is read at start-up or written at any time. Every name is accepted, so it is the volatile
// storage of last resort behind the adapters that claim volatile names of their own. Runs on
// the loop thread.
#pragma once

#include <string>

#include "service/TInformationAdapter.h"

class TVolatileAdapter final : public TInformationAdapter {
 public:
  TVolatileAdapter();
  ~TVolatileAdapter() override;

  // IInformationAdapter
  // True for the volatile storage type only.
  bool IsStorageType(TStorageType storageType) const override;
  // Stores the value and reports OnSetObject, unless the same value is already held.
  void SetObject(const std::string& name, const std::string& value) override;
  // Erases the object and reports OnUnsetObject, only when it was held.
  void UnsetObject(const std::string& name) override;
};

// An adapter owns a family of information objects and a way of keeping or producing them.
// The information service holds an ordered list of adapters and reaches each only through
// this interface; adapters report back only through IInformationAdapterCallback. All calls
// run on the loop thread.
#pragma once

#include <string>

#include "toi/IToiInformationService.h"

class IInformationAdapterCallback;

class IInformationAdapter {
 public:
  using TStorageType = IToiInformationService::TStorageType;

  virtual ~IInformationAdapter() = default;

  // Stores the callback (not owned) through which every later change is reported.
  virtual void SetCallback(IInformationAdapterCallback* callback) = 0;
  // Loads or produces the adapter's objects; called once, just before serving starts. May
  // report through the callback.
  virtual void InitializeObjects() = 0;
  // The routing question for reads: the adapter currently holds this name.
  virtual bool HasObject(const std::string& name) const = 0;
  // Copies the value out and returns true; false (value untouched) when not held.
  virtual bool GetObject(const std::string& name, std::string& value) const = 0;
  // True when the value is produced anew by every GetObject and changes without a report
  // through the callback, so that nobody outside may keep a copy of it.
  virtual bool IsComputedOnRead(const std::string& name) const = 0;
  // Writes the value into an existing file. False when not held (no file is touched);
  // throws 207 when the file cannot be opened or written.
  virtual bool GetObjectToFile(const std::string& name, const std::string& fileName) const = 0;
  // With SupportsObject, the routing question for writes.
  virtual bool IsStorageType(TStorageType storageType) const = 0;
  virtual bool SupportsObject(const std::string& name) const = 0;
  // Stores the value; reports the change through OnSetObject before returning when the
  // value is new. May throw a dispatchable exception (202 limits, 207 file failures).
  virtual void SetObject(const std::string& name, const std::string& value) = 0;
  // Sets the value to the whole content of the file; throws 207 when it cannot be read.
  virtual void SetObjectFromFile(const std::string& name, const std::string& fileName) = 0;
  // Removes the object and reports OnUnsetObject when it was held.
  virtual void UnsetObject(const std::string& name) = 0;
  // Reports every held object through OnEnumerateObject, synchronously.
  virtual void EnumerateObjects() const = 0;
  // The set of subscriptions changed: reconsider what to fetch from the source.
  virtual void FetchObjects() = 0;

 protected:
  IInformationAdapter() = default;
  IInformationAdapter(const IInformationAdapter&) = delete;
  IInformationAdapter& operator=(const IInformationAdapter&) = delete;
};

// The common base of every adapter: keeps the adapter's objects in a byte-ordered map and
// gives every IInformationAdapter operation a default, so that a concrete adapter overrides
// only what makes it different. The defaults hold nothing for writing: a plain map-backed
// adapter accepts no storage type, so it is never chosen for a write. Runs on the loop thread.
#pragma once

#include <map>
#include <string>

#include "base/TTracker.h"
#include "os/TUniqueFd.h"
#include "service/IInformationAdapter.h"
#include "service/IInformationAdapterCallback.h"

class TInformationAdapter : public IInformationAdapter {
 public:
  TInformationAdapter();
  ~TInformationAdapter() override;

  // IInformationAdapter
  void SetCallback(IInformationAdapterCallback* callback) override;
  void InitializeObjects() override;
  bool HasObject(const std::string& name) const override;
  bool GetObject(const std::string& name, std::string& value) const override;
  // False: a held value changes only through the adapter's own reports.
  bool IsComputedOnRead(const std::string& name) const override;
  bool GetObjectToFile(const std::string& name, const std::string& fileName) const override;
  bool IsStorageType(TStorageType storageType) const override;
  bool SupportsObject(const std::string& name) const override;
  void SetObject(const std::string& name, const std::string& value) override;
  void SetObjectFromFile(const std::string& name, const std::string& fileName) override;
  void UnsetObject(const std::string& name) override;
  void EnumerateObjects() const override;
  void FetchObjects() override;

 protected:
  using TObjectMap = std::map<std::string, std::string>;

  // Writes value into the client's file fileName, which must exist (it is truncated, never
  // created), without ever waiting on it: a FIFO without a reader, or whose reader does not
  // take the whole value at once, is a failure. Throws TFileException (207) with openFailure
  // when the file cannot be opened and "Failed to write to file." when the value cannot be
  // written whole; both are traced as errors after "<context>: ".
  void WriteValueToFile(const std::string& value, const std::string& fileName, const char* context,
                        const std::string& openFailure) const;
  // Opens a path a client named, with the client's rights (the callback's OpenClientFile).
  TUniqueFd OpenClientFile(const std::string& fileName, int flags) const;

  TTracker* tracker_;
  IInformationAdapterCallback* callback_ = nullptr;
  TObjectMap objects_;
};

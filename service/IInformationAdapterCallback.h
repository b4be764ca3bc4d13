// How an adapter reports to the information service. Every call is synchronous and runs
// inside the adapter's own operation or loop handler.
#pragma once

#include <string>

#include "os/TUniqueFd.h"

class IInformationAdapter;

class IInformationAdapterCallback {
 public:
  // The adapter's object was created or changed.
  virtual void OnSetObject(const IInformationAdapter* adapter, const std::string& name) const = 0;
  // The adapter no longer holds the object.
  virtual void OnUnsetObject(const IInformationAdapter* adapter,
                             const std::string& name) const = 0;
  // One answer to EnumerateObjects.
  virtual void OnEnumerateObject(const IInformationAdapter* adapter,
                                 const std::string& name) const = 0;
  // Whether anybody subscribed to exactly this name, so that the adapter fetches it.
  virtual bool OnFetchObject(const IInformationAdapter* adapter,
                             const std::string& name) const = 0;
  // Opens a file that the client of the request being served named (get-to-file,
  // set-from-file) with open(2) flags, with that client's rights; the only way an adapter
  // may open a client's path. Invalid (errno set) when the open fails or is refused.
  virtual TUniqueFd OpenClientFile(const std::string& path, int flags) const = 0;

 protected:
  IInformationAdapterCallback() = default;
  ~IInformationAdapterCallback() = default;
};

// What a receiving channel reports to its owner (the Infocast adapter, the management
// adapter): complete, checked objects. Called on the loop thread from inside the channel's
// HandleEvent; the owner may add or drop wanted objects of the channel from these calls, but
// must not delete the channel while one of them runs.
#pragma once

#include <string>

class IInfocastChannelCallback {
 public:
  // True when the owner already holds exactly this value, so nothing needs to be done.
  virtual bool OnCompareObject(const std::string& name, const std::string& value) = 0;
  // A new value for an ordinary object; an empty value withdraws it.
  virtual void OnObjectChanged(const std::string& name, const std::string& value) = 0;
  // A new value for a configuration object of the meta channel; directory is true for
  // objects of the extended configuration syntax (type 0xC000).
  virtual void OnDirectoryChanged(const std::string& name, const std::string& value,
                                  bool directory) = 0;
  virtual ~IInfocastChannelCallback() = default;

 protected:
  IInfocastChannelCallback() = default;
  IInfocastChannelCallback(const IInfocastChannelCallback&) = delete;
  IInfocastChannelCallback& operator=(const IInfocastChannelCallback&) = delete;
};

// One node of the Infocast configuration tree: a configuration object (the root configuration
// of the meta channel, or a sub-directory named by an extended configuration) and the
// sub-directories its text names. The sub-directory entries do not own their nodes: the
// Infocast adapter owns every directory in one map, so a node can be looked up by name.
// Runs on the loop thread.
#pragma once

#include <map>
#include <string>

#include "base/TTracker.h"

class TInfocastDirectory final {
 public:
  using TSubdirectories = std::map<std::string, TInfocastDirectory*>;

  TInfocastDirectory(const std::string& name, TTracker& tracker);
  ~TInfocastDirectory();
  TInfocastDirectory(const TInfocastDirectory&) = delete;
  TInfocastDirectory& operator=(const TInfocastDirectory&) = delete;

  const std::string& GetDirectoryName() const { return name_; }
  // An extended directory is written in the quoted-line syntax; once extended, only updates
  // flagged as directories change it.
  void SetExtended() { extended_ = true; }
  bool IsExtended() const { return extended_; }

  // Enters the node under its name; a name already present changes nothing and warns
  // "Subdirectory %s does already exists in directory %s". Does not take ownership.
  void AddSubdirectory(TInfocastDirectory* directory);
  // Removes the entry; an absent name warns "Subdirectory %s does not exists in directory %s".
  // Does not delete the node.
  void DelSubdirectory(const std::string& name);
  const TSubdirectories& GetSubdirectories() const { return subdirectories_; }

 private:
  TTracker& tracker_;
  std::string name_;
  bool extended_ = false;
  TSubdirectories subdirectories_;
};

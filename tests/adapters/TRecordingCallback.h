// An adapter callback that records every report as "set <name>", "unset <name>" or
// "enumerate <name>", and answers fetch questions from a set of wanted names.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "service/IInformationAdapterCallback.h"

namespace test {

class TRecordingCallback final : public IInformationAdapterCallback {
 public:
  void OnSetObject(const IInformationAdapter*, const std::string& name) const override {
    reports.push_back("set " + name);
  }
  void OnUnsetObject(const IInformationAdapter*, const std::string& name) const override {
    reports.push_back("unset " + name);
  }
  void OnEnumerateObject(const IInformationAdapter*, const std::string& name) const override {
    reports.push_back("enumerate " + name);
  }
  bool OnFetchObject(const IInformationAdapter*, const std::string& name) const override {
    return wanted.count(name) != 0;
  }

  mutable std::vector<std::string> reports;
  std::set<std::string> wanted;
};

}  // namespace test

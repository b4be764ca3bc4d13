// The default values of information objects, read once at start-up from the defaults file
// into the base's object map and never changed afterwards. It is no storage for any storage
// type, so it only answers reads; it sits last in the adapter list, so a value held by any
// other adapter hides the default. A defaults file that cannot be read or has the wrong shape
// ends the process after a fatal trace: running with half the defaults would hand clients
// wrong values silently. Runs on the loop thread.
//
// The file: root "Objects", each child an "Object" with a "Name" and a "Value" child (other
// children of an "Object" are ignored); a later duplicate name replaces an earlier one.
#pragma once

#include <string>

#include "service/TInformationAdapter.h"

class TDefaultAdapter final : public TInformationAdapter {
 public:
  // Stores the file name (empty: no defaults); reads nothing.
  explicit TDefaultAdapter(const std::string& fileName);
  ~TDefaultAdapter() override;

  // IInformationAdapter
  // Loads the file; reports nothing, since no client can have subscribed yet. Aborts the
  // process on any failure.
  void InitializeObjects() override;

 private:
  std::string fileName_;
};

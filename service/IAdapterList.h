// The service's adapter list as a monitor that adds adapters at run time sees it: it may
// start one at the end of the list and take one out again, nothing else. Runs on the loop
// thread; both operations are safe inside an adapter's report (the service walks its list by
// index and looks each adapter up again after a call).
#pragma once

#include <memory>

#include "service/IInformationAdapter.h"

class IAdapterList {
 public:
  // Appends the adapter, last in priority, and takes ownership; then hands it the service as
  // its callback and calls its InitializeObjects, which may report objects at once.
  // Initialisation failures propagate; the adapter stays in the list.
  virtual void StartAdapter(std::unique_ptr<IInformationAdapter> adapter) = 0;
  // Takes the adapter out of the list and hands ownership back; null when it is not in the
  // list. Out of the list it ranks nowhere: a removal it reports afterwards reaches the
  // subscribers only where no adapter holds the name.
  virtual std::unique_ptr<IInformationAdapter> RemoveAdapter(
      const IInformationAdapter* adapter) = 0;
  virtual ~IAdapterList() = default;

 protected:
  IAdapterList() = default;
  IAdapterList(const IAdapterList&) = delete;
  IAdapterList& operator=(const IAdapterList&) = delete;
};

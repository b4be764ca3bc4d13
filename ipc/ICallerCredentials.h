// Who made the request that is being served right now. The IPC server answers it while it
// dispatches a call; a served object asks it from inside the operation to decide what the
// caller may do. Runs on the loop thread.
#pragma once

#include "ipc/TPeerCredentials.h"

class ICallerCredentials {
 public:
  virtual ~ICallerCredentials() = default;

  // The credentials of the connection whose call is being dispatched; nullptr outside a
  // dispatch (a timer, a socket handler, start-up). The pointer is valid until the operation
  // returns; whoever keeps the credentials copies them.
  virtual const TPeerCredentials* GetCallerCredentials() const = 0;

 protected:
  ICallerCredentials() = default;
  ICallerCredentials(const ICallerCredentials&) = delete;
  ICallerCredentials& operator=(const ICallerCredentials&) = delete;
};

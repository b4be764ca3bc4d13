// Receives the expiry of a timeout added to an IIOEventLoop. Called on the loop thread; it
// may remove its own timeout (it then never fires again) and add others.
#pragma once

class IIOTimeoutHandler {
 public:
  virtual ~IIOTimeoutHandler() = default;
  // identifier: what AddTimeout returned for this timeout.
  virtual void HandleTimeout(int identifier) = 0;

 protected:
  IIOTimeoutHandler() = default;
  IIOTimeoutHandler(const IIOTimeoutHandler&) = delete;
  IIOTimeoutHandler& operator=(const IIOTimeoutHandler&) = delete;
};

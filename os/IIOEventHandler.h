// Receives readiness of a descriptor registered with an IIOEventLoop. Called on the loop
// thread; it may register or unregister descriptors and timeouts, its own included.
#pragma once

class IIOEventHandler {
 public:
  virtual ~IIOEventHandler() = default;
  // descriptor: the registered descriptor; events: the readiness mask (1 = readable).
  virtual void HandleEvent(int descriptor, unsigned int events) = 0;

 protected:
  IIOEventHandler() = default;
  IIOEventHandler(const IIOEventHandler&) = delete;
  IIOEventHandler& operator=(const IIOEventHandler&) = delete;
};

// The event loop every descriptor and timer of the daemon runs on: one thread, handlers
// called one at a time. Handlers are not owned by the loop.
#pragma once

#include <cstdint>

#include "os/IIOEventHandler.h"
#include "os/IIOTimeoutHandler.h"

class IIOEventLoop {
 public:
  static constexpr unsigned int kReadable = 1;
  static constexpr unsigned int kWritable = 4;

  virtual ~IIOEventLoop() = default;

  // Calls handler->HandleEvent(descriptor, events) whenever the descriptor is ready for what
  // mask asks (kReadable, kWritable or both; events says which), until it is unregistered.
  // flags is reserved (0). Registering a descriptor again replaces its handler and mask.
  // Throws TException when the kernel refuses the descriptor.
  virtual void RegisterFileDescriptor(int descriptor, unsigned int mask, int flags,
                                      IIOEventHandler* handler) = 0;
  // No effect for a descriptor that is not registered. The handler is never called again.
  virtual void UnregisterFileDescriptor(int descriptor) = 0;
  // Calls handler->HandleTimeout(id) after milliseconds, then again every milliseconds until
  // removed. Returns the identifier (>= 0). Does not call back synchronously.
  virtual int AddTimeout(unsigned int milliseconds, IIOTimeoutHandler* handler) = 0;
  // Calls handler->HandleTimeout(id) once, after milliseconds (delays beyond UINT_MAX
  // milliseconds, some 49 days, are cut to that); the identifier is unknown from the call on,
  // so the handler need not remove it. Returns the identifier (>= 0). Does not call back
  // synchronously.
  virtual int AddOneShotTimeout(uint64_t milliseconds, IIOTimeoutHandler* handler) = 0;
  // No effect for an unknown identifier (callers hold -1 for "none"). The handler is never
  // called again for it, even when removed during the pass that would have fired it.
  virtual void RemoveTimeout(int identifier) = 0;

 protected:
  IIOEventLoop() = default;
  IIOEventLoop(const IIOEventLoop&) = delete;
  IIOEventLoop& operator=(const IIOEventLoop&) = delete;
};

// The server side as the objects it serves see it: it makes the addresses of new objects and
// routes the calls that arrive for an address to the dispatcher registered for it.
// TIpcServer does this on a Unix socket; a test can route in process without one. Everything
// runs on the loop thread.
#pragma once

#include <cstdint>
#include <string>

class TIpcDispatcher;

class IIpcServer {
 public:
  virtual ~IIpcServer() = default;

  // The address of a new object on this server. Throws TException when the object numbers
  // are used up.
  virtual std::string CreateObject() = 0;
  // Routes calls for the object at address (one that CreateObject made) to dispatcher, which
  // is not owned, until RemoveDispatcher; returns the object's number. Throws TException for
  // an address of another server or one that is served already. Never calls the dispatcher
  // synchronously.
  virtual uint32_t AddDispatcher(const std::string& address, TIpcDispatcher* dispatcher) = 0;
  // Ends the routing of objectId if it still goes to dispatcher; otherwise no effect.
  virtual void RemoveDispatcher(uint32_t objectId, TIpcDispatcher* dispatcher) = 0;

 protected:
  IIpcServer() = default;
  IIpcServer(const IIpcServer&) = delete;
  IIpcServer& operator=(const IIpcServer&) = delete;
};

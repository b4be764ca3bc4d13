// The base of every served object's dispatcher: while it exists, calls that arrive at the
// server for its address go to Dispatch. Built on the loop thread from an address that the
// same server's CreateObject made; the destructor stops the routing.
#pragma once

#include <cstdint>
#include <string>

class IIpcServer;
class TIpcReader;
class TIpcWriter;

class TIpcDispatcher {
 public:
  // Throws TException when the address is not an object of this server or is served already.
  TIpcDispatcher(IIpcServer& server, const std::string& address);
  virtual ~TIpcDispatcher();
  TIpcDispatcher(const TIpcDispatcher&) = delete;
  TIpcDispatcher& operator=(const TIpcDispatcher&) = delete;

  // Decodes the arguments of the operation, calls the implementation and encodes its
  // results. False for an operation the interface does not have. Throws TIpcProtocolError
  // for arguments that do not decode and whatever the implementation throws.
  virtual bool Dispatch(uint16_t operation, TIpcReader& reader, TIpcWriter& writer) = 0;

  const std::string& GetAddress() const { return address_; }

 private:
  IIpcServer& server_;
  std::string address_;
  uint32_t objectId_;
};

// A dispatcher for one interface, driven by its protocol table (TIpcMarshal): the named
// dispatchers (TPlatformComponentDispatcher and its siblings) are this template bound to
// their interface. It refers to the implementation, which must outlive it.
#pragma once

#include "ipc/TIpcDispatcher.h"
#include "ipc/TIpcMarshal.h"

template <typename Protocol>
class TIpcProtocolDispatcher : public TIpcDispatcher {
 public:
  TIpcProtocolDispatcher(IIpcServer& server, const std::string& address,
                         typename Protocol::TInterface& impl)
      : TIpcDispatcher(server, address), impl_(impl) {}

  // TIpcDispatcher
  bool Dispatch(uint16_t operation, TIpcReader& reader, TIpcWriter& writer) override {
    return TIpcMarshal::Serve<Protocol>(impl_, operation, reader, writer);
  }

 private:
  typename Protocol::TInterface& impl_;
};

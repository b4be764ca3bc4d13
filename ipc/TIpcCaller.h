// The base of every caller: a client and the address of the object it calls. An operation of
// a protocol is named by its member pointer (&IToiNameService::LookupObject) and invoked with
// the operation's own arguments; its wire number comes from the protocol's one list
// (TIpcOperations), and whether the call waits for an answer is the protocol's (kOneWay). Not
// owned: the client, which must outlive the caller.
#pragma once

#include <string>
#include <utility>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcMarshal.h"
#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"

class TIpcCaller {
 public:
  TIpcCaller(TIpcClient* client, const std::string& address) : client_(client), address_(address) {}
  virtual ~TIpcCaller() = default;

  const std::string& GetAddress() const { return address_; }

  // Calls Operation of Protocol on the object at address. Results land in the result
  // parameters among args. Throws TRemoteException (the served operation's code and text) and
  // TException (unreachable, timed out, one-way delivery dropped).
  template <typename Protocol, auto Operation, typename... A>
  static void InvokeOn(TIpcClient* client, const std::string& address, A&&... args) {
    constexpr uint16_t number = Protocol::TOperations::template kNumber<Operation>;
    if (!client) throw TException("IPC call to " + address + " without a client");
    TIpcWriter request;
    TIpcMarshal::EncodeArguments(Operation, request, args...);
    if constexpr (Protocol::kOneWay) {
      static_assert(!TIpcMarshal::HasResults(Operation), "a one-way operation has no results");
      client->Post(address, number, request);
    } else {
      std::string reply;
      client->Call(address, number, request, reply);
      TIpcReader reader(reply.data(), reply.size());
      try {
        TIpcMarshal::DecodeResults(Operation, reader, std::forward<A>(args)...);
      } catch (const TException& error) {
        throw TException(std::string(error.GetText()) + " in the reply from " + address);
      }
    }
  }

 protected:
  template <typename Protocol, auto Operation, typename... A>
  void Invoke(A&&... args) {
    InvokeOn<Protocol, Operation>(client_, address_, std::forward<A>(args)...);
  }

 private:
  TIpcClient* client_;
  std::string address_;
};

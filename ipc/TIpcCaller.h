// The base of every caller: a client and the address of the object it calls. Operation K of
// a protocol table is invoked with the operation's own arguments; whether the call waits for
// an answer is the protocol's (kOneWay). Not owned: the client, which must outlive the caller.
#pragma once

#include <string>
#include <tuple>
#include <utility>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcClientImpl.h"
#include "ipc/TIpcMarshal.h"
#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"

class TIpcCaller {
 public:
  TIpcCaller(TIpcClient* client, const std::string& address) : client_(client), address_(address) {}
  virtual ~TIpcCaller() = default;

  const std::string& GetAddress() const { return address_; }

  // Calls operation K of Protocol on the object at address. Results land in the result
  // parameters among args. Throws TRemoteException (the served operation's code and text) and
  // TException (unreachable, timed out, one-way delivery dropped).
  template <typename Protocol, size_t K, typename... A>
  static void InvokeOn(TIpcClient* client, const std::string& address, A&&... args) {
    constexpr auto operation = std::get<K>(Protocol::kOperations);
    if (!client) throw TException("IPC call to " + address + " without a client");
    TIpcWriter request;
    TIpcMarshal::EncodeArguments(operation, request, args...);
    if constexpr (Protocol::kOneWay) {
      static_assert(!TIpcMarshal::HasResults(operation), "a one-way operation has no results");
      client->GetImpl().Post(address, static_cast<uint16_t>(K + 1), request);
    } else {
      std::string reply;
      client->GetImpl().Call(address, static_cast<uint16_t>(K + 1), request, reply);
      TIpcReader reader(reply.data(), reply.size());
      try {
        TIpcMarshal::DecodeResults(operation, reader, std::forward<A>(args)...);
      } catch (const TException& error) {
        throw TException(std::string(error.GetText()) + " in the reply from " + address);
      }
    }
  }

 protected:
  template <typename Protocol, size_t K, typename... A>
  void Invoke(A&&... args) {
    InvokeOn<Protocol, K>(client_, address_, std::forward<A>(args)...);
  }

 private:
  TIpcClient* client_;
  std::string address_;
};

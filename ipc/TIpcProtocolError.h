// A violation of the IPC wire format by a peer: a malformed, truncated or oversized frame,
// or arguments that do not decode. The connection it came from is closed.
#pragma once

#include <string>

#include "base/TException.h"

class TIpcProtocolError final : public TException {
 public:
  explicit TIpcProtocolError(const std::string& text) : TException("IPC protocol error: " + text) {}
};

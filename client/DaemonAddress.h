// How the programs built on the client library (infoctl, infoservice-web) are pointed at the
// daemon: an address given with -A wins; else the file named with -i, which holds what
// `infoservice -i` wrote (surrounding white space ignored); else nothing, which leaves the
// search to the library ($INFOSERVICE_ADDRESS, then the name service).
#pragma once

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>

#include "base/TException.h"
#include "client/TInfoClient.h"

// The address to hand to TInfoClient, or empty. Throws TInfoError(kUnreachable) when the file
// cannot be read or holds nothing: the daemon cannot be found that way.
inline std::string GivenDaemonAddress(const std::string& address, const std::string& addressFile) {
  using infoservice::TInfoError;
  if (!address.empty()) return address;
  if (addressFile.empty()) return std::string();
  std::ifstream file(addressFile, std::ios::binary);
  if (!file) {
    throw TInfoError(TInfoError::kUnreachable,
                     ErrnoMessage("cannot read address file '" + addressFile + "'", errno));
  }
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) {
    throw TInfoError(TInfoError::kUnreachable, "address file '" + addressFile + "' is empty");
  }
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

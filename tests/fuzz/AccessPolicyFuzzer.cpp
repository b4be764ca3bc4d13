// libFuzzer target for the access policy parser: no text may crash it, and a text it accepts
// answers questions, the text itself among them.
#include <cstdint>
#include <string>

#include "service/TAccessPolicy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TAccessPolicy::TNames names;
  names.user = [](const std::string& name, uid_t& uid) {
    uid = 1000;
    return name.size() % 2 == 0;
  };
  names.group = [](const std::string& name, gid_t& gid) {
    gid = 100;
    return name.size() % 3 == 0;
  };
  TPeerCredentials peer;
  peer.uid = 1000;
  peer.gid = 100;
  try {
    const TAccessPolicy policy = TAccessPolicy::Parse(text, names, 500);
    for (const char* question : {"cfg.ip.x", "cfg.*", "*", text.c_str()})
      policy.Allows(peer, question, TAccessPolicy::eWrite);
  } catch (const TAccessPolicy::TError&) {
  }
  return 0;
}

// libFuzzer target for the access policy parser and the questions a policy answers.
#include <cstdint>
#include <string>

#include "service/TAccessPolicy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TAccessPolicy::TNames names;
  names.user = [](const std::string& name, uid_t& uid) { return (uid = 1000) && name.size() % 2; };
  names.group = [](const std::string& name, gid_t& gid) { return (gid = 100) && name.size() % 3; };
  const TPeerCredentials peer{0, 1000, 100, {}};
  try {
    const TAccessPolicy policy = TAccessPolicy::Parse(text, names, 500);
    for (const char* question : {"cfg.ip.x", "cfg.*", "*", text.c_str()})
      policy.Allows(peer, question, TAccessPolicy::eWrite);
  } catch (const TAccessPolicy::TError&) {
  }
  return 0;
}

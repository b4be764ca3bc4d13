// libFuzzer target for the access policy parser: no text may crash it or make it read past
// the input, a text it accepts answers every question, and a first line that allows
// everything to everyone decides every question whatever follows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "service/TAccessPolicy.h"

namespace {

TAccessPolicy::TNames Names() {
  TAccessPolicy::TNames names;
  names.user = [](const std::string& name, uid_t& uid) {
    uid = static_cast<uid_t>(name.size());
    return name.size() % 2 == 0;
  };
  names.group = [](const std::string& name, gid_t& gid) {
    gid = static_cast<gid_t>(name.size());
    return name.size() % 3 == 0;
  };
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TPeerCredentials peer;
  peer.uid = 1000;
  peer.gid = 100;
  peer.groups = {4, 6};
  const char* const questions[] = {"cfg.ip.x", "cfg.*", "*", "a", "cfg", text.c_str()};
  try {
    const TAccessPolicy policy = TAccessPolicy::Parse(text, Names(), 500);
    for (const char* question : questions) {
      policy.Allows(peer, question, TAccessPolicy::eRead);
      policy.Allows(peer, question, TAccessPolicy::eSubscribe);
    }
  } catch (const TAccessPolicy::TError&) {
  }
  try {
    const TAccessPolicy open = TAccessPolicy::Parse("* rws *\n" + text, Names(), 500);
    for (const char* question : questions) {
      if (*question && !open.Allows(peer, question, TAccessPolicy::eWrite)) std::abort();
    }
  } catch (const TAccessPolicy::TError& error) {
    if (error.GetLine() == 1) std::abort();  // the first line is well-formed
  }
  return 0;
}

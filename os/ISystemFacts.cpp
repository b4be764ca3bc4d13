#include "os/ISystemFacts.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>

#include <cerrno>
#include <cstring>

#include "os/TUniqueFd.h"

namespace {

// Bounds the interface list: a box has a handful, a busy host a few hundred.
constexpr size_t kMaxInterfaces = 1024;

class TLinuxSystemFacts final : public ISystemFacts {
 public:
  bool GetMemory(TMemory& memory) const override {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return false;
    memory.freeRam = info.freeram;
    memory.unit = info.mem_unit;
    return true;
  }

  THardwareAddressResult GetHardwareAddress(const std::string& interface,
                                            THardwareAddress& address) const override {
    TUniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.IsValid()) return THardwareAddressResult::eNoSocket;
    struct ifreq request {};
    if (interface.size() >= sizeof request.ifr_name) {
      errno = ENODEV;
      return THardwareAddressResult::eNoAddress;
    }
    std::memcpy(request.ifr_name, interface.c_str(), interface.size() + 1);
    if (::ioctl(socket.Get(), SIOCGIFHWADDR, &request) != 0) {
      return THardwareAddressResult::eNoAddress;
    }
    std::memcpy(address.bytes, request.ifr_hwaddr.sa_data, sizeof address.bytes);
    address.loopback = request.ifr_hwaddr.sa_family == ARPHRD_LOOPBACK;
    return THardwareAddressResult::eOk;
  }

  std::vector<std::string> GetInterfaceNames() const override {
    std::vector<std::string> names;
    if (struct if_nameindex* list = ::if_nameindex()) {
      for (const struct if_nameindex* entry = list;
           entry->if_index != 0 && entry->if_name != nullptr && names.size() < kMaxInterfaces;
           ++entry) {
        names.emplace_back(entry->if_name);
      }
      ::if_freenameindex(list);
    }
    return names;
  }
};

}  // namespace

const ISystemFacts& ISystemFacts::System() {
  static const TLinuxSystemFacts facts;
  return facts;
}

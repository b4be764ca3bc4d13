// What the system information adapter asks the kernel beyond the clock: free memory and the
// hardware addresses of network interfaces. A seam, so that tests give the memory figures and
// the interfaces of their choice. Calls never block and never call back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ISystemFacts {
 public:
  struct TMemory {
    uint64_t freeRam = 0;  // in units
    uint32_t unit = 0;     // bytes per unit
  };
  enum class THardwareAddressResult {
    eOk,
    eNoSocket,   // no socket to ask with; errno set
    eNoAddress,  // no such interface, or it has no hardware address; errno set
  };
  struct THardwareAddress {
    uint8_t bytes[6] = {};
    bool loopback = false;
  };

  virtual ~ISystemFacts() = default;

  // Free RAM as sysinfo(2) reports it; false (errno set) when the call fails.
  virtual bool GetMemory(TMemory& memory) const = 0;
  // The hardware address of the named interface (SIOCGIFHWADDR).
  virtual THardwareAddressResult GetHardwareAddress(const std::string& interface,
                                                    THardwareAddress& address) const = 0;
  // The names of the network interfaces, in the kernel's index order.
  virtual std::vector<std::string> GetInterfaceNames() const = 0;

  // The real kernel, shared process-wide.
  static const ISystemFacts& System();

 protected:
  ISystemFacts() = default;
  ISystemFacts(const ISystemFacts&) = delete;
  ISystemFacts& operator=(const ISystemFacts&) = delete;
};

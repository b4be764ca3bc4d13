// The platform's name service: served objects are registered under a name and found by it.
#pragma once

#include <string>

class IToiNameService {
 public:
  virtual ~IToiNameService() = default;
  // Registers (or replaces) the address under name.
  virtual void RegisterObject(const std::string& name, const std::string& address) = 0;
  // Fills in the address registered under name; throws TDispatchableException (201) when
  // nothing is registered under it.
  virtual void LookupObject(const std::string& name, std::string& address) = 0;

 protected:
  IToiNameService() = default;
  IToiNameService(const IToiNameService&) = delete;
  IToiNameService& operator=(const IToiNameService&) = delete;
};

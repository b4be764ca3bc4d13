#include "daemon/AddressFile.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/TTracker.h"
#include "os/TUniqueFd.h"
#include "os/WriteAll.h"

bool WriteAddressFile(const std::string& fileName, const std::string& address) {
  TUniqueFd file(open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664));
  if (!file.IsValid() || !WriteAll(file.Get(), address.data(), address.size()) ||
      file.Close() != 0) {
    TTracker::GetProcessTracker()->Error("Could not write IS address to '%s'", fileName.c_str());
    return false;
  }
  return true;
}

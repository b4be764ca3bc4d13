#include "daemon/AddressFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/TTracker.h"
#include "os/TUniqueFd.h"

namespace {

// Bounded by the text's length: every round either writes bytes or fails.
bool WriteAll(int descriptor, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(descriptor, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

void WriteAddressFile(const std::string& fileName, const std::string& address) {
  TUniqueFd file(open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664));
  if (!file.IsValid() || !WriteAll(file.Get(), address)) {
    TTracker::GetProcessTracker()->Error("Could not write IS address to '%s'", fileName.c_str());
  }
}

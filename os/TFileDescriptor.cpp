#include "os/TFileDescriptor.h"

#include <unistd.h>

TFileDescriptor::~TFileDescriptor() { Close(); }

TFileDescriptor::TFileDescriptor(TFileDescriptor&& other) noexcept
    : descriptor_(other.descriptor_) {
  other.descriptor_ = -1;
}

TFileDescriptor& TFileDescriptor::operator=(TFileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = other.descriptor_;
    other.descriptor_ = -1;
  }
  return *this;
}

int TFileDescriptor::Close() {
  if (descriptor_ < 0) return 0;
  const int result = ::close(descriptor_);
  descriptor_ = -1;
  return result;
}

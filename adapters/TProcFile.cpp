#include "adapters/TProcFile.h"

#include <cstring>

#include "os/ReadFileUpTo.h"

bool TProcFile::ReadFile(const std::string& path, char* buffer, unsigned int size) const {
  if (size == 0) return false;
  std::string content;
  if (ReadFileUpTo(path, size - 1, content) != TFileRead::kWhole) return false;
  std::memcpy(buffer, content.data(), content.size());
  buffer[content.size()] = '\0';
  return true;
}

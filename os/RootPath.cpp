#include "os/RootPath.h"

#include <cstdlib>

std::string RootPath(const std::string& boxPath) {
  const char* root = std::getenv("INFOSERVICE_ROOT");
  if (!root || !*root) return boxPath;
  std::string prefix(root);
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (prefix == "/") return boxPath;
  if (!boxPath.empty() && boxPath.front() != '/') prefix += '/';
  return prefix + boxPath;
}

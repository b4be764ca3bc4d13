#include "service/TServiceObjectReader.h"

std::string TServiceObjectReader::GetObject(const std::string& name) {
  std::string value;
  service_.GetObject(name, value);
  return value;
}

#include "xml/TXmlElement.h"

bool TXmlElement::GetStringValue(const std::string& key, std::string& out) const {
  for (const TXmlElement& child : children) {
    if (child.name == key) {
      out = child.text;
      return true;
    }
  }
  return false;
}

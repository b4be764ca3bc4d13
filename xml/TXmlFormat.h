// Escapes a text for XML character data and attribute values, so that parsing it back gives
// the same bytes. See TXmlFormat.cpp for what happens to bytes XML 1.0 cannot carry.
#pragma once

#include <string>

class TXmlFormat final {
 public:
  explicit TXmlFormat(const std::string& text);
  const std::string& GetString() const { return escaped_; }

 private:
  std::string escaped_;
};

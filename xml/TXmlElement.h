// One element of a parsed XML document: name, text (character data with entities resolved,
// not trimmed), attributes and child elements in document order. Plain data, read by callers
// directly or through the accessors.
#pragma once

#include <map>
#include <string>
#include <vector>

class TXmlElement final {
 public:
  std::string name;
  std::string text;
  std::map<std::string, std::string> attributes;
  std::vector<TXmlElement> children;
  // Line of the start tag (from 1), so that readers can say where a refused element stands.
  unsigned long line = 0;

  const std::string& GetName() const { return name; }
  const std::string& GetText() const { return text; }
  const std::map<std::string, std::string>& GetAttributes() const { return attributes; }
  const std::vector<TXmlElement>& GetChildren() const { return children; }
  // True with out set to the text of the first child element named key (an empty child gives
  // an empty text); false when there is no such child.
  bool GetStringValue(const std::string& key, std::string& out) const;
};

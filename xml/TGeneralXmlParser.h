// Parses one XML document with expat into a TXmlElement tree. Each reader creates a parser on
// the stack, parses one document, walks the tree and lets the parser go.
#pragma once

#include <string>

#include "xml/TXmlElement.h"

class TGeneralXmlParser final {
 public:
  TGeneralXmlParser();
  ~TGeneralXmlParser();
  TGeneralXmlParser(const TGeneralXmlParser&) = delete;
  TGeneralXmlParser& operator=(const TGeneralXmlParser&) = delete;

  // Each throws a TException (a TVerboseException) naming expat's reason and the line when
  // the document is not well-formed; the previous tree is then gone.
  void Parse(const char* data, int length);
  void Parse(const char* text);
  void Parse(const std::string& text);

  // The root of the last parsed document; valid until the next Parse or destruction.
  const TXmlElement& GetRootElement() const { return root_; }

 private:
  TXmlElement root_;
};

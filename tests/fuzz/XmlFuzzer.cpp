// libFuzzer target for the XML access: no input may crash the parser, and any text escaped
// with TXmlFormat must give a document that parses, with the carriable text unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/TException.h"
#include "xml/TGeneralXmlParser.h"
#include "xml/TXmlFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  TGeneralXmlParser parser;
  try {
    parser.Parse(input.data(), static_cast<int>(input.size()));
  } catch (const TException&) {
  }
  std::string escaped = TXmlFormat(input).GetString();
  try {
    parser.Parse("<v a=\"" + escaped + "\">" + escaped + "</v>");
  } catch (const TException&) {
    std::abort();  // the escaper produced a document that does not parse
  }
  // Re-escaping what was read back must be stable: replaced bytes stay replaced.
  if (TXmlFormat(parser.GetRootElement().GetText()).GetString() != escaped) std::abort();
  if (parser.GetRootElement().GetAttributes().at("a") != parser.GetRootElement().GetText()) {
    std::abort();
  }
  return 0;
}

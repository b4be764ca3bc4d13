#include <gtest/gtest.h>

#include <string>

#include "xml/TGeneralXmlParser.h"
#include "xml/TXmlFormat.h"

namespace {

// Writes the text the way the settings writer does (as element text) and as an attribute in
// both quote styles, parses it back and expects `readBack` from all three.
void ExpectRoundTrip(const std::string& value, const std::string& readBack) {
  const std::string escaped = TXmlFormat(value).GetString();
  TGeneralXmlParser parser;
  parser.Parse("<Object a=\"" + escaped + "\" b='" + escaped + "'>" + escaped + "</Object>");
  EXPECT_EQ(readBack, parser.GetRootElement().GetText());
  EXPECT_EQ(readBack, parser.GetRootElement().GetAttributes().at("a"));
  EXPECT_EQ(readBack, parser.GetRootElement().GetAttributes().at("b"));
}

TEST(TXmlFormatTest, ParsingTheEscapedTextGivesTheSameBytes) {
  for (const std::string value :
       {"", "&amp; is not &", "\"double\" and 'single'", "]]> ends CDATA", "<Value>x</Value>",
        "  padded  ", "cr\r\nlf\r", "Z\xC3\xBCrich \xE6\x97\xA5 \xF0\x9F\x98\x80 \xEF\xBF\xBD",
        "<&>\"'\xC3\xA9\t\n\r\x7F mixed"}) {
    ExpectRoundTrip(value, value);
  }
  EXPECT_EQ("a&lt;b&gt;&amp;&quot;&apos;z", TXmlFormat("a<b>&\"'z").GetString());
  EXPECT_EQ("x&#9;y&#10;z&#13;", TXmlFormat("x\ty\nz\r").GetString());
}

// Bytes XML 1.0 cannot carry become U+FFFD, one per byte, and the document still parses.
TEST(TXmlFormatTest, UncarriableBytesAreReplacedAndTheDocumentStillParses) {
  const std::string R = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"cut \xE6\x97 x", "cut " + R + R + " x"},
      {"overlong \xC0\xAF \xE0\x80\xAF", "overlong " + R + R + " " + R + R + R},
      {"surrogate \xED\xA0\x80", "surrogate " + R + R + R},
      {"too high \xF4\x90\x80\x80", "too high " + R + R + R + R},
      {"\xF5\xFF \xC3", R + R + " " + R},
      {"nonchar \xEF\xBF\xBE \xEF\xBF\xBF", "nonchar " + R + R + R + " " + R + R + R}};
  for (const auto& [input, readBack] : cases) ExpectRoundTrip(input, readBack);
  for (int c = 0; c < 256; ++c) {
    const std::string value = "x" + std::string(1, static_cast<char>(c)) + "y";
    const bool carriable = c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x80);
    ExpectRoundTrip(value, carriable ? value : "x" + R + "y");
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include "xml/TGeneralXmlParser.h"
#include "xml/TXmlFormat.h"

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

// Writes the text the way the settings writer does (as element text) and as an attribute in
// both quote styles, parses each back and returns what came out.
struct TReadBack {
  std::string text;
  std::string doubleQuoted;
  std::string singleQuoted;
};

TReadBack RoundTrip(const std::string& value) {
  std::string escaped = TXmlFormat(value).GetString();
  TGeneralXmlParser parser;
  parser.Parse("<Object a=\"" + escaped + "\" b='" + escaped + "'><Value>" + escaped +
               "</Value></Object>");
  TReadBack back;
  EXPECT_TRUE(parser.GetRootElement().GetStringValue("Value", back.text));
  back.doubleQuoted = parser.GetRootElement().GetAttributes().at("a");
  back.singleQuoted = parser.GetRootElement().GetAttributes().at("b");
  return back;
}

TEST(TXmlFormatTest, ParsingTheEscapedTextGivesTheSameBytes) {
  for (const std::string value :
       {"", "plain", "a<b>c", "&amp; is not &", "\"double\" and 'single'", "]]> ends CDATA",
        "<Value>x</Value>", "  padded  ", "tab\there", "line\nfeed", "cr\r\nlf", "\r",
        "Z\xC3\xBCrich", "\xE6\x97\xA5\xE6\x9C\xAC", "emoji \xF0\x9F\x98\x80", "\xEF\xBF\xBD",
        "\x7F delete is allowed", "<&>\"'\xC3\xA9\t\n\r mixed"}) {
    const TReadBack back = RoundTrip(value);
    EXPECT_EQ(value, back.text);
    EXPECT_EQ(value, back.doubleQuoted);
    EXPECT_EQ(value, back.singleQuoted);
  }
  EXPECT_EQ("a&lt;b&gt;&amp;&quot;&apos;z", TXmlFormat("a<b>&\"'z").GetString());
  EXPECT_EQ("x&#9;y&#10;z&#13;", TXmlFormat("x\ty\nz\r").GetString());
}

// Bytes XML 1.0 cannot carry become U+FFFD, one per byte, and the document still parses.
TEST(TXmlFormatTest, UncarriableBytesAreReplacedAndTheDocumentStillParses) {
  const std::string R = kReplacement;
  const std::pair<std::string, std::string> cases[] = {
      {std::string("a\0b", 3), "a" + R + "b"},
      {"\x01\x08\x0B\x0C\x0E\x1F", R + R + R + R + R + R},
      {"stray \x80", "stray " + R},
      {"cut \xC3", "cut " + R},
      {"cut \xE6\x97 x", "cut " + R + R + " x"},
      {"overlong \xC0\xAF", "overlong " + R + R},
      {"overlong \xE0\x80\xAF", "overlong " + R + R + R},
      {"surrogate \xED\xA0\x80", "surrogate " + R + R + R},
      {"too high \xF4\x90\x80\x80", "too high " + R + R + R + R},
      {"\xF5\xFF", R + R},
      {"nonchar \xEF\xBF\xBE \xEF\xBF\xBF", "nonchar " + R + R + R + " " + R + R + R}};
  for (const auto& [input, readBack] : cases) {
    const TReadBack back = RoundTrip(input);
    EXPECT_EQ(readBack, back.text);
    EXPECT_EQ(readBack, back.doubleQuoted);
  }
  for (int c = 0; c < 256; ++c) {
    const std::string value = "x" + std::string(1, static_cast<char>(c)) + "y";
    const bool carriable = c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x80);
    EXPECT_EQ(carriable ? value : "x" + kReplacement + "y", RoundTrip(value).text) << c;
  }
}

}  // namespace

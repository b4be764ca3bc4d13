#include <gtest/gtest.h>

#include <string>

#include "platform/TGeneralXmlParser.h"
#include "platform/TXmlFormat.h"

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

class TXmlFormatRoundTripTest : public ::testing::TestWithParam<std::string> {};

TEST_P(TXmlFormatRoundTripTest, ParsingTheEscapedTextGivesTheSameBytes) {
  TReadBack back = RoundTrip(GetParam());
  EXPECT_EQ(GetParam(), back.text);
  EXPECT_EQ(GetParam(), back.doubleQuoted);
  EXPECT_EQ(GetParam(), back.singleQuoted);
}

INSTANTIATE_TEST_SUITE_P(Values, TXmlFormatRoundTripTest,
                         ::testing::Values("", "plain", "a<b>c", "&amp; is not &",
                                           "\"double\" and 'single'", "]]> ends CDATA",
                                           "<Value>x</Value>", "  padded  ", "tab\there",
                                           "line\nfeed", "cr\r\nlf", "\r", "Z\xC3\xBCrich",
                                           "\xE6\x97\xA5\xE6\x9C\xAC", "emoji \xF0\x9F\x98\x80",
                                           "\xEF\xBF\xBD", "\x7F delete is allowed",
                                           "<&>\"'\xC3\xA9\t\n\r mixed"));

TEST(TXmlFormatTest, EscapesMarkupCharacters) {
  EXPECT_EQ("a&lt;b&gt;&amp;&quot;&apos;z", TXmlFormat("a<b>&\"'z").GetString());
  EXPECT_EQ("x&#9;y&#10;z&#13;", TXmlFormat("x\ty\nz\r").GetString());
}

// Bytes XML 1.0 cannot carry become U+FFFD, one per byte, and the document still parses.
struct TUncarriable {
  std::string input;
  std::string readBack;
};

class TXmlFormatUncarriableTest : public ::testing::TestWithParam<TUncarriable> {};

TEST_P(TXmlFormatUncarriableTest, IsReplacedAndTheDocumentStillParses) {
  TReadBack back = RoundTrip(GetParam().input);
  EXPECT_EQ(GetParam().readBack, back.text);
  EXPECT_EQ(GetParam().readBack, back.doubleQuoted);
}

const std::string R = kReplacement;

INSTANTIATE_TEST_SUITE_P(
    Bytes, TXmlFormatUncarriableTest,
    ::testing::Values(TUncarriable{std::string("a\0b", 3), "a" + R + "b"},
                      TUncarriable{"\x01\x08\x0B\x0C\x0E\x1F", R + R + R + R + R + R},
                      TUncarriable{"stray \x80", "stray " + R},
                      TUncarriable{"cut \xC3", "cut " + R},
                      TUncarriable{"cut \xE6\x97 x", "cut " + R + R + " x"},
                      TUncarriable{"overlong \xC0\xAF", "overlong " + R + R},
                      TUncarriable{"overlong \xE0\x80\xAF", "overlong " + R + R + R},
                      TUncarriable{"surrogate \xED\xA0\x80", "surrogate " + R + R + R},
                      TUncarriable{"too high \xF4\x90\x80\x80", "too high " + R + R + R + R},
                      TUncarriable{"\xF5\xFF", R + R},
                      TUncarriable{"nonchar \xEF\xBF\xBE \xEF\xBF\xBF",
                                   "nonchar " + R + R + R + " " + R + R + R}));

TEST(TXmlFormatTest, EveryByteValueYieldsAParsableDocument) {
  for (int c = 0; c < 256; ++c) {
    std::string value = "x" + std::string(1, static_cast<char>(c)) + "y";
    SCOPED_TRACE(c);
    std::string back = RoundTrip(value).text;
    bool carriable = c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x80);
    EXPECT_EQ(carriable ? value : "x" + kReplacement + "y", back);
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/TException.h"
#include "xml/TGeneralXmlParser.h"

namespace {

const char kDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Objects version=\"2\" kind='test'>\n"
    "  <Object><Name>cfg.a</Name><Value>  x &amp; y  </Value></Object>\n"
    "  <!-- comment -->\n"
    "  <Object><Name>cfg.b</Name><Value/><Value>second</Value></Object>\n"
    "  <Other>t<![CDATA[<raw>]]>u&#x263A;</Other>\n"
    "</Objects>\n";

void ExpectSampleTree(const TXmlElement& root) {
  EXPECT_EQ("Objects", root.GetName());
  EXPECT_EQ((std::map<std::string, std::string>{{"kind", "test"}, {"version", "2"}}),
            root.GetAttributes());
  ASSERT_EQ(3u, root.GetChildren().size());
  std::string value;
  ASSERT_TRUE(root.GetChildren()[0].GetStringValue("Value", value));
  EXPECT_EQ("  x & y  ", value);
  // A missing child leaves the value alone; an empty one is present and empty (the first of
  // two children named Value).
  const TXmlElement& second = root.GetChildren()[1];
  EXPECT_FALSE(second.GetStringValue("Alias", value));
  EXPECT_EQ("  x & y  ", value);
  ASSERT_TRUE(second.GetStringValue("Value", value));
  EXPECT_EQ("", value);
  EXPECT_EQ("t<raw>u\xE2\x98\xBA", root.GetChildren()[2].GetText());
}

std::string Nested(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<a>";
  for (int i = 0; i < depth; ++i) text += "</a>";
  return text;
}

TEST(TGeneralXmlParserTest, AllOverloadsBuildTheSameTreeAndANewParseReplacesIt) {
  TGeneralXmlParser parser;
  parser.Parse(kDocument);
  ExpectSampleTree(parser.GetRootElement());
  parser.Parse(std::string(kDocument));
  ExpectSampleTree(parser.GetRootElement());
  // A mapped file has no terminator: only the given length may be read.
  const std::string unterminated = std::string(kDocument) + "garbage after the length";
  parser.Parse(unterminated.data(), static_cast<int>(sizeof kDocument - 1));
  ExpectSampleTree(parser.GetRootElement());
  parser.Parse(Nested(200));  // moderate nesting is accepted
  parser.Parse("<Root>text</Root>");
  EXPECT_EQ("Root", parser.GetRootElement().GetName());
  EXPECT_TRUE(parser.GetRootElement().GetChildren().empty());
}

// Every refusal is a TException naming the line, and leaves no tree behind.
TEST(TGeneralXmlParserTest, MalformedDocumentsAndInvalidBuffersAreRefused) {
  const std::string bomb =
      "<!DOCTYPE a [<!ENTITY e0 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'>"
      "<!ENTITY e1 '&e0;&e0;&e0;&e0;&e0;&e0;&e0;&e0;&e0;&e0;'>"
      "<!ENTITY e2 '&e1;&e1;&e1;&e1;&e1;&e1;&e1;&e1;&e1;&e1;'>"
      "<!ENTITY e3 '&e2;&e2;&e2;&e2;&e2;&e2;&e2;&e2;&e2;&e2;'>"
      "<!ENTITY e4 '&e3;&e3;&e3;&e3;&e3;&e3;&e3;&e3;&e3;&e3;'>"
      "<!ENTITY e5 '&e4;&e4;&e4;&e4;&e4;&e4;&e4;&e4;&e4;&e4;'>"
      "<!ENTITY e6 '&e5;&e5;&e5;&e5;&e5;&e5;&e5;&e5;&e5;&e5;'>"
      "<!ENTITY e7 '&e6;&e6;&e6;&e6;&e6;&e6;&e6;&e6;&e6;&e6;'>"
      "<!ENTITY e8 '&e7;&e7;&e7;&e7;&e7;&e7;&e7;&e7;&e7;&e7;'>]><a>&e8;</a>";
  TGeneralXmlParser parser;
  for (const std::string& text :
       {std::string(), std::string("not xml"), std::string("<a>"), std::string("<a/><b/>"),
        std::string("<a>&undefined;</a>"), std::string("<a x='1' x='2'/>"),
        std::string("<a>\xFF</a>"), std::string("<a>\x01</a>"), std::string("<a>\0</a>", 8),
        Nested(100000), bomb}) {
    parser.Parse(kDocument);
    try {
      parser.Parse(text);
      ADD_FAILURE() << "parsed: " << text.substr(0, 40);
    } catch (const TException& e) {
      EXPECT_NE(nullptr, std::strstr(e.GetText(), "line")) << e.GetText();
    }
    EXPECT_EQ("", parser.GetRootElement().GetName()) << "a failed parse leaves no tree";
  }
  try {
    parser.Parse("<a>\n<b>\n</a>");
    ADD_FAILURE();
  } catch (const TException& e) {
    EXPECT_STREQ("XML parse error at line 3, column 2: mismatched tag", e.GetText());
  }
  EXPECT_THROW(parser.Parse("<a/>", -1), TException);
  EXPECT_THROW(parser.Parse(nullptr, 4), TException);
  EXPECT_THROW(parser.Parse(static_cast<const char*>(nullptr)), TException);
}

}  // namespace

// infoctl's --json output read back by an independent decoder: values and names holding
// quotes, backslashes, line feeds, NUL bytes and bytes that are not UTF-8 must come back
// byte for byte, and the output itself must be valid UTF-8 with one JSON text per line.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

using TObject = std::map<std::string, std::string>;

// A strict reader of flat JSON objects whose members are all strings. Lone escaped low
// surrogates \udc80..\udcff stand for the raw bytes 0x80..0xff; every other code point is
// written back as UTF-8. Raw bytes in the text must form valid UTF-8.
class TJsonReader {
 public:
  explicit TJsonReader(const std::string& text) : text_(text) {}

  TObject Object() {
    TObject object;
    Expect('{');
    if (Peek() == '}') {
      ++at_;
    } else {
      for (;;) {
        const std::string name = String();
        Expect(':');
        if (!object.emplace(name, String()).second) throw std::runtime_error("repeated key");
        if (Peek() == '}') {
          ++at_;
          break;
        }
        Expect(',');
      }
    }
    if (at_ != text_.size()) throw std::runtime_error("text after the object");
    return object;
  }

 private:
  char Peek() const {
    if (at_ >= text_.size()) throw std::runtime_error("text ends early");
    return text_[at_];
  }
  void Expect(char c) {
    if (Peek() != c)
      throw std::runtime_error(std::string("expected ") + c + " at " + std::to_string(at_));
    ++at_;
  }
  unsigned Hex4() {
    if (at_ + 4 > text_.size()) throw std::runtime_error("short \\u escape");
    const unsigned value = std::stoul(text_.substr(at_, 4), nullptr, 16);
    at_ += 4;
    return value;
  }
  static void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  // Copies one raw UTF-8 sequence, checking it by decoding it.
  void RawSequence(std::string& out) {
    const unsigned char lead = text_[at_];
    const int length = lead < 0x80       ? 1
                       : lead >> 5 == 6  ? 2
                       : lead >> 4 == 14 ? 3
                       : lead >> 3 == 30 ? 4
                                         : 0;
    if (length == 0 || at_ + length > text_.size()) throw std::runtime_error("raw byte not UTF-8");
    unsigned cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      const unsigned char next = text_[at_ + k];
      if (next >> 6 != 2) throw std::runtime_error("raw byte not UTF-8");
      cp = cp << 6 | (next & 0x3F);
    }
    static const unsigned kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      throw std::runtime_error("raw sequence not UTF-8");
    }
    if (cp < 0x20) throw std::runtime_error("raw control character");
    out.append(text_, at_, length);
    at_ += length;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (Peek() != '"') {
      if (Peek() != '\\') {
        RawSequence(out);
        continue;
      }
      ++at_;
      const char kind = Peek();
      ++at_;
      static const std::map<char, char> kSimple = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},
                                                   {'b', '\b'}, {'f', '\f'},  {'n', '\n'},
                                                   {'r', '\r'}, {'t', '\t'}};
      if (kSimple.count(kind) != 0) {
        out += kSimple.at(kind);
        continue;
      }
      if (kind != 'u') throw std::runtime_error("unknown escape");
      unsigned cp = Hex4();
      if (cp >= 0xDC80 && cp <= 0xDCFF) {
        out += static_cast<char>(cp - 0xDC00);
        continue;
      }
      if (cp >= 0xD800 && cp <= 0xDBFF && text_.compare(at_, 2, "\\u") == 0) {
        at_ += 2;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4() - 0xDC00);
      }
      AppendUtf8(out, cp);
    }
    ++at_;
    return out;
  }

  const std::string& text_;
  size_t at_ = 0;
};

TObject ReadLine(const std::string& line) { return TJsonReader(line).Object(); }

class InfoctlJsonTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(daemon_.StartStandalone()) << daemon_.Log(); }
  void TearDown() override { EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log(); }

  TResult Run(const std::vector<std::string>& arguments) { return daemon_.Infoctl(arguments); }

  TTempRoot root_;
  TDaemon daemon_{root_};
};

TEST_F(InfoctlJsonTest, GetDumpAndWatchOutputReadsBackByteForByte) {
  const TObject objects = {
      {"j.quote", "say \"hi\""},
      {"j.backslash", "C:\\dir\\"},
      {"j.lines", "one\ntwo\r\n\tend"},
      {"j.nul", std::string("a\0b\0", 4)},
      {"j.controls", "\x01\x1f\x7f"},
      {"j.utf8", "caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\x80"},
      {"j.latin1", "caf\xe9"},
      {"j.broken", "\xed\xa0\x80|\xc0\xaf|\xe2\x82|\xf4\x90\x80\x80|\x80\xbf|\xff"},
      {"j.escape-like", "\\udcff and \\u0041"},
      {"j.name-\xfe\xff", "the name is not UTF-8"},
      {"j.empty", ""}};
  std::vector<std::string> set = {"set", "-v"};
  for (const auto& [name, value] : objects) {
    if (value.find('\0') != std::string::npos) continue;
    set.insert(set.end(), {name, value});
  }
  ASSERT_EQ(0, Run(set).status);
  // A NUL cannot travel in an argument; the daemon reads it from a file.
  WriteFile(root_.File("nul"), objects.at("j.nul"));
  ASSERT_EQ(0, Run({"set-from-file", "-v", "j.nul", root_.File("nul")}).status);

  std::vector<std::string> get = {"get", "--json"};
  for (const auto& [name, value] : objects) get.push_back(name);
  get.push_back("j.quote");  // asked twice, listed once
  const TResult got = Run(get);
  ASSERT_EQ(0, got.status) << got.err;
  const TResult dumped = Run({"dump", "--json", "j.*"});
  ASSERT_EQ(0, dumped.status) << dumped.err;
  for (const TResult* result : {&got, &dumped}) {
    ASSERT_EQ(result->out.size() - 1, result->out.find('\n')) << "one line: " << result->out;
    EXPECT_EQ(objects, ReadLine(result->out.substr(0, result->out.size() - 1))) << result->out;
  }
  const TResult none = Run({"dump", "--json", "nothing.*"});
  EXPECT_EQ("{}\n", none.out);

  const auto watch = daemon_.Watch({"--json", "j.*"});
  ASSERT_TRUE(watch->WaitForLines(objects.size())) << watch->Err();
  ASSERT_EQ(0, Run({"unset", "-v", "j.name-\xfe\xff"}).status);
  ASSERT_TRUE(watch->WaitForLines(objects.size() + 1));
  watch->Signal(SIGINT);
  EXPECT_EQ(0, watch->Wait());
  std::map<std::string, std::string> events;
  const std::vector<std::string> lines = watch->Lines();
  for (size_t i = 0; i < lines.size(); ++i) {
    const TObject event = ReadLine(lines[i]);
    ASSERT_EQ(2u, event.size()) << lines[i];
    if (i < objects.size()) events[event.at("name")] = event.at("event");
    if (i == objects.size()) {
      EXPECT_EQ((TObject{{"event", "removed"}, {"name", "j.name-\xfe\xff"}}), event);
    }
  }
  ASSERT_EQ(objects.size(), events.size());
  for (const auto& [name, value] : objects) EXPECT_EQ("changed", events[name]) << name;
}

// The reader itself must refuse what the output must never contain, or the test above proves
// nothing.
TEST(JsonReaderTest, RefusesRawInvalidBytesAndControls) {
  for (const std::string& bad :
       {std::string("{\"a\":\"\xff\"}"), std::string("{\"a\":\"\n\"}"),
        std::string("{\"a\":\"\xed\xa0\x80\"}"), std::string("{\"a\":\"x\"} ")}) {
    EXPECT_THROW(ReadLine(bad), std::runtime_error) << bad;
  }
}

}  // namespace
}  // namespace integration

// infoctl against the real daemon in standalone host mode: the object operations, routing
// between the storages, aliases, watching and dumping, the JSON output, and the tool's exit
// codes and messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

const char kDefaults[] =
    "<Objects>\n"
    "  <Object><Name>cfg.test.default</Name><Value>from defaults</Value></Object>\n"
    "  <Object><Name>watch.a</Name><Value>1</Value></Object>\n"
    "  <Object><Name>watch.b</Name><Value>2</Value></Object>\n"
    "  <Object><Name>dump.z</Name><Value>last</Value></Object>\n"
    "  <Object><Name>dump.a</Name><Value>back\\slash</Value></Object>\n"
    "</Objects>\n";

const char kAliases[] =
    "<Objects>\n"
    "  <Object><Name>client.name</Name><Alias>stored.name</Alias></Object>\n"
    "</Objects>\n";

class InfoctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(root_.File("defaults.xml"), kDefaults);
    WriteFile(root_.File("aliases.xml"), kAliases);
    ASSERT_TRUE(daemon_.StartStandalone(
        {"-d", root_.File("defaults.xml"), "-a", root_.File("aliases.xml")}))
        << daemon_.Log();
  }
  void TearDown() override { EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log(); }

  TResult Run(const std::vector<std::string>& arguments) { return daemon_.Infoctl(arguments); }

  // A watch without enumeration prints nothing until something changes, so there is no line
  // that says it subscribed: set `name` to new values until the watch reports one.
  bool SetUntilReported(const TProcess& watch, const std::string& name) {
    int round = 0;
    return WaitUntil([&] {
      Run({"set", "-v", name, "round " + std::to_string(++round)});
      return WaitUntil([&] { return !watch.Lines().empty(); }, std::chrono::milliseconds(200));
    });
  }

  // The value of `name`, with the trailing newline infoctl prints; "<status N>" on failure.
  std::string Get(const std::string& name) {
    const TResult result = Run({"get", name});
    return result.status == 0 ? result.out : "<status " + std::to_string(result.status) + ">";
  }

  void ExpectRefused(const TResult& result, const std::string& message) {
    EXPECT_EQ(1, result.status);
    EXPECT_EQ("infoctl: " + message + "\n", result.err);
    EXPECT_EQ("", result.out);
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
};

// get prints what it can read and names each name that failed; a malformed request is 201.
TEST_F(InfoctlTest, ObjectsTravelInBothStorageTypesAndThroughFiles) {
  for (const std::vector<std::string>& type : {std::vector<std::string>{}, {"-v"}}) {
    SCOPED_TRACE(type.size());
    auto command = [&](const char* verb, std::vector<std::string> arguments) {
      arguments.insert(arguments.begin(), type.begin(), type.end());
      arguments.insert(arguments.begin(), verb);
      return Run(arguments).status;
    };
    ASSERT_EQ(0, command("set", {"obj.one", "first value", "obj.two", ""}));
    const TResult partial = Run({"get", "obj.one", "no.such", "obj.two", "no.other"});
    EXPECT_EQ(1, partial.status);
    EXPECT_EQ("first value\n\n", partial.out);
    EXPECT_EQ(
        "infoctl: no.such: error 201: Unknown object\n"
        "infoctl: no.other: error 201: Unknown object\n",
        partial.err);
    ASSERT_EQ(0, command("unset", {"obj.one", "obj.two"}));
    EXPECT_EQ("<status 1>", Get("obj.one"));
  }
  ExpectRefused(Run({"get-to-file", "no.such.object", root_.File("out")}),
                "error 201: Unknown object");
  ExpectRefused(Run({"dump", ""}), "error 201: Invalid expression");
  const auto watch = daemon_.Watch({"watch.*", ""});
  EXPECT_EQ(1, watch->Wait());
  EXPECT_EQ("infoctl: error 201: Invalid expression\n", watch->Err());

  WriteFile(root_.File("in"), "line 1\nline 2\n");
  ASSERT_EQ(0, Run({"set-from-file", "-v", "tmp.file", root_.File("in")}).status);
  EXPECT_EQ("line 1\nline 2\n\n", Get("tmp.file"));
  // The daemon writes into an existing file only.
  ExpectRefused(Run({"get-to-file", "tmp.file", root_.File("out")}),
                "error 207: Failed to open file for writing.");
  WriteFile(root_.File("out"), "old content that is longer than the value");
  ASSERT_EQ(0, Run({"get-to-file", "tmp.file", root_.File("out")}).status);
  EXPECT_EQ("line 1\nline 2\n", ReadFile(root_.File("out")));

  ASSERT_EQ(0, Run({"set", "cfg.locale.ui", "sv-SE"}).status);
  EXPECT_EQ("swe\n", Get("config.uilanguage"));
  ASSERT_EQ(0, Run({"set", "-v", "cfg.locale.ui", "xx-YY"}).status);
  EXPECT_EQ("xx-YY\n", Get("config.uilanguage"));
  // With -t the flash user area is never written, so its size refuses nothing.
  EXPECT_EQ(0, Run({"set", "_fw.cfg.ip.dns1", std::string(5000, 'd')}).status);
}

// A default is served until a storage holds the name; the volatile value hides the permanent
// one, whose changes are then nobody's business.
TEST_F(InfoctlTest, VolatileShadowsPermanentWhichShadowsTheDefault) {
  const std::string name = "cfg.test.default";
  EXPECT_EQ("from defaults\n", Get(name));
  ASSERT_EQ(0, Run({"set", name, "permanent"}).status);
  ASSERT_EQ(0, Run({"set", "-v", name, "volatile"}).status);
  EXPECT_EQ("volatile\n", Get(name));
  const auto watch = daemon_.Watch({"cfg.test.*"});
  ASSERT_TRUE(watch->WaitForLines(1));
  ASSERT_EQ(0, Run({"set", name, "permanent 2"}).status);
  ASSERT_EQ(0, Run({"unset", "-v", name}).status);
  ASSERT_TRUE(watch->WaitForLines(2));
  EXPECT_EQ("permanent 2\n", Get(name));
  watch->Signal(SIGINT);
  EXPECT_EQ(0, watch->Wait());
  EXPECT_EQ((std::vector<std::string>{"changed " + name, "removed " + name}), watch->Lines());
  ASSERT_EQ(0, Run({"unset", name}).status);
  EXPECT_EQ("from defaults\n", Get(name));
}

// A watch lists the present matches first, unless -n; a set through an alias is reported
// under the stored name, then under the client name.
TEST_F(InfoctlTest, WatchEnumeratesThenReportsChangesAlsoUnderAliases) {
  const auto watch = daemon_.Watch({"watch.*"});
  const auto aliased = daemon_.Watch({"-n", "client.name", "stored.name", "watch.*"});
  ASSERT_TRUE(watch->WaitForLines(2)) << watch->Err();
  ASSERT_TRUE(SetUntilReported(*aliased, "client.name"));
  ASSERT_TRUE(WaitUntil([&] { return aliased->Lines().size() % 2 == 0; }));
  aliased->Signal(SIGTERM);
  EXPECT_EQ(0, aliased->Wait());
  EXPECT_EQ(Get("client.name"), Get("stored.name"));
  const std::vector<std::string> lines = aliased->Lines();
  for (size_t i = 0; i + 1 < lines.size(); i += 2) {
    EXPECT_EQ("changed stored.name", lines[i]);
    EXPECT_EQ("changed client.name", lines[i + 1]);
  }

  ASSERT_EQ(0, Run({"set", "-v", "watch.c", "3"}).status);
  ASSERT_EQ(0, Run({"unset", "-v", "watch.c"}).status);
  ASSERT_EQ(0, Run({"set", "-v", "other.x", "not watched"}).status);
  ASSERT_TRUE(watch->WaitForLines(4));
  watch->Signal(SIGINT);
  EXPECT_EQ(0, watch->Wait());
  EXPECT_EQ((std::vector<std::string>{"changed watch.a", "changed watch.b", "changed watch.c",
                                      "removed watch.c"}),
            watch->Lines());
  EXPECT_EQ("", watch->Err());
}

// The enumeration is delivered one-way; a dump must wait for its end, not for silence. Names
// and values are escaped alike, so every object stays on one line.
TEST_F(InfoctlTest, DumpListsAllMatchesSortedAndEscaped) {
  std::vector<std::string> set = {"set",       "-v", "dump.m",  "two\nlines",
                                  "dump.n\nl", "x",  "other.y", "elsewhere"};
  std::string expected;
  for (int i = 100000; i < 103000; ++i) {
    const std::string name = "big." + std::to_string(i);
    set.insert(set.end(), {name, "v" + name});
    expected += name + "=v" + name + "\n";
  }
  ASSERT_EQ(0, Run(set).status);
  const std::pair<std::string, std::string> cases[] = {
      {"dump.*", "dump.a=back\\\\slash\ndump.m=two\\nlines\ndump.n\\nl=x\ndump.z=last\n"},
      {"big.*", expected},
      {"no.such.*", ""}};
  for (const auto& [expression, out] : cases) {
    const TResult dump = Run({"dump", expression});
    EXPECT_EQ(0, dump.status) << dump.err;
    EXPECT_EQ(out, dump.out) << expression;
    EXPECT_EQ("", dump.err);
  }
  const TResult all = Run({"dump"});
  EXPECT_NE(std::string::npos, all.out.find("\nother.y=elsewhere\n"));
  EXPECT_NE(std::string::npos, all.out.find("\nwatch.a=1\nwatch.b=2\n"));
  // The service reads "dump*" as a plain name, which would silently match nothing.
  const TResult plain = Run({"dump", "dump*"});
  EXPECT_EQ(0, plain.status);
  EXPECT_NE(std::string::npos, plain.err.find("warning: 'dump*' is read as a plain name"));
}

// --json writes names and values losslessly: valid UTF-8 as it is, controls escaped, every
// byte that is not part of valid UTF-8 as \udcXX; the output is one line of valid UTF-8.
TEST_F(InfoctlTest, JsonOutputEscapesEveryByteThatIsNotPlainUtf8) {
  ASSERT_EQ(0, Run({"set", "-v", "j.a", "q\"\\\n\r\t\b\f\x01\x1f\x7f", "j.b",
                    "caf\xc3\xa9 \xf0\x9f\x98\x80|caf\xe9|\xed\xa0\x80\xc0\xaf\xe2\x82|"
                    "\xf4\x90\x80\x80\xff",
                    "j.\xfe", "\\udcff"})
                   .status);
  // A NUL cannot travel in an argument; the daemon reads it from a file.
  WriteFile(root_.File("nul"), std::string("a\0b", 3));
  ASSERT_EQ(0, Run({"set-from-file", "-v", "j.nul", root_.File("nul")}).status);
  const std::string a = R"("j.a":"q\"\\\n\r\t\b\f\u0001\u001f)"
                        "\x7f\"";
  const std::string b =
      "\"j.b\":\"caf\xc3\xa9 \xf0\x9f\x98\x80"
      R"(|caf\udce9|)"
      R"(\udced\udca0\udc80\udcc0\udcaf\udce2\udc82|)"
      R"(\udcf4\udc90\udc80\udc80\udcff")";
  const std::string fe = R"("j.\udcfe":"\\udcff")";
  const std::string nul = R"("j.nul":"a\u0000b")";
  // get keeps the order asked and lists a repeated name once; dump sorts byte-wise.
  EXPECT_EQ("{" + a + "," + b + "," + fe + "," + nul + "}\n",
            Run({"get", "--json", "j.a", "j.b", "j.\xfe", "j.nul", "j.a"}).out);
  EXPECT_EQ("{" + a + "," + b + "," + nul + "," + fe + "}\n", Run({"dump", "--json", "j.*"}).out);
  EXPECT_EQ("{}\n", Run({"dump", "--json", "nothing.*"}).out);
  const auto watch = daemon_.Watch({"-n", "--json", "j.*"});
  ASSERT_TRUE(SetUntilReported(*watch, "j.\xfe"));
  EXPECT_EQ(R"({"event":"changed","name":"j.\udcfe"})", watch->Lines().front());
}

// A usage error is one line that says what is wrong and where help is.
TEST_F(InfoctlTest, HelpExitsWith0AndUsageErrorsWith2) {
  const TResult help = Run({"-h"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.find("Usage: infoctl"));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-x", "get", "a"}, "unknown option '-x'"},
      {{"get"}, "missing arguments"},
      {{"set", "a"}, "missing arguments"},
      {{"set", "a", "1", "b"}, "a NAME without a VALUE"},
      {{"set", "-q", "a", "1"}, "unknown option '-q'"},
      {{"frobnicate"}, "unknown command"},
      {{"get-to-file", "a"}, "missing arguments"},
      {{"dump", "a.*", "b.*"}, "too many arguments"},
      {{"watch"}, "missing arguments"},
      {{"get", "-i", "file", "a"}, "'-i' goes before the command"}};
  for (const auto& [arguments, message] : cases) {
    const TResult result = Run(arguments);
    EXPECT_EQ(2, result.status) << message;
    EXPECT_EQ(0u, result.err.find("infoctl: " + message)) << result.err;
    EXPECT_EQ(result.err.size() - 1, result.err.find('\n')) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("try 'infoctl -h'")) << result.err;
  }
}

// "get watch.a" with the daemon's address given in different ways; "none" is a missing file.
TEST_F(InfoctlTest, AddressComesFromOptionThenFileThenEnvironment) {
  const std::string address = daemon_.Address();
  const std::string none = root_.File("none");
  struct TCase {
    std::vector<std::string> options;
    std::string environmentAddress;
    int status;
    std::string error;
  } const cases[] = {{{"-A", address}, "", 0, ""},
                     {{"-A", address, "-i", none}, "", 0, ""},
                     {{}, address, 0, ""},
                     {{"-i", none}, address, 2, ""},
                     {{"-A", "no-such-address"}, "", 2, "cannot reach"},
                     {{"-A", daemon_.AddressFile()}, "", 2, "use -i"},
                     {{}, "", 2, "no daemon address"}};
  for (const TCase& c : cases) {
    std::vector<std::string> argv = {BinaryPath("infoctl")};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.insert(argv.end(), {"get", "watch.a"});
    TEnvironment environment = daemon_.Environment();
    environment["INFOSERVICE_ADDRESS"] = c.environmentAddress;
    const TResult result = RunProgram(root_, argv, environment);
    EXPECT_EQ(c.status, result.status) << c.options.size() << c.environmentAddress;
    EXPECT_EQ(c.status == 0 ? "1\n" : "", result.out);
    EXPECT_NE(std::string::npos, result.err.find(c.error)) << result.err;
  }
}

}  // namespace
}  // namespace integration

// infoctl against the real daemon: object operations, dumping, JSON output, how it finds the
// daemon, its exit codes and messages.
#include <gtest/gtest.h>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

class InfoctlTest : public TDaemonTest {
 protected:
  void SetUp() override {
    TDaemonTest::SetUp();
    if (IsSkipped()) return;
    root_.Write("defaults.xml",
                "<Objects><Object><Name>watch.a</Name><Value>1</Value></Object>"
                "<Object><Name>watch.b</Name><Value>2</Value></Object>"
                "<Object><Name>dump.z</Name><Value>last</Value></Object>"
                "<Object><Name>dump.a</Name><Value>back\\slash</Value></Object></Objects>\n");
    ASSERT_TRUE(daemon_.StartStandalone({"-d", root_.File("defaults.xml")})) << daemon_.Log();
  }
  void TearDown() override { EXPECT_TRUE(IsSkipped() || daemon_.Stop() == 0) << daemon_.Log(); }

  TResult Run(const TArgs& arguments) { return daemon_.Infoctl(arguments); }
};

// get prints what it can read and names each name that failed; a malformed request is 201.
TEST_F(InfoctlTest, ObjectsTravelInBothStorageTypesAndFailuresAreNamed) {
  for (const TArgs& type : {TArgs{}, TArgs{"-v"}}) {
    SCOPED_TRACE(type.size());
    ASSERT_EQ(0, Run(Concat(Concat({"set"}, type), {"obj.one", "first value", "obj.two", ""}))
                     .status);
    const TResult partial = Run({"get", "obj.one", "no.such", "obj.two", "no.other"});
    EXPECT_EQ(1, partial.status);
    EXPECT_EQ("first value\n\n", partial.out);
    EXPECT_EQ("infoctl: no.such: error 201: Unknown object\n"
              "infoctl: no.other: error 201: Unknown object\n", partial.err);
    ASSERT_EQ(0, Run(Concat(Concat({"unset"}, type), {"obj.one", "obj.two"})).status);
    EXPECT_EQ("<none>", daemon_.Get("obj.one"));
  }
  for (const auto& [arguments, message] :
       {std::pair{TArgs{"get-to-file", "no.such", root_.File("out")}, "Unknown object"},
        {TArgs{"dump", ""}, "Invalid expression"},
        {TArgs{"watch", "-n", "watch.*", ""}, "Invalid expression"}}) {
    const TResult result = Run(arguments);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ("infoctl: error 201: " + std::string(message) + "\n", result.out + result.err);
  }
}

// A dump waits for the enumeration's end, not for silence; names and values are escaped alike.
TEST_F(InfoctlTest, DumpListsAllMatchesSortedAndEscaped) {
  TArgs set = {"set", "-v", "dump.m", "two\nlines", "dump.n\nl", "x", "other.y", "elsewhere"};
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
  const std::string all = Run({"dump"}).out;
  EXPECT_NE(std::string::npos, all.find("\nother.y=elsewhere\n")) << all;
  EXPECT_NE(std::string::npos, all.find("\nwatch.a=1\nwatch.b=2\n")) << all;
  // The service reads "dump*" as a plain name, which would silently match nothing.
  const TResult plain = Run({"dump", "dump*"});
  EXPECT_EQ(0, plain.status);
  EXPECT_NE(std::string::npos, plain.err.find("warning: 'dump*' is read as a plain name"));
}

// --json is lossless: valid UTF-8 as it is, controls escaped, any other byte as \udcXX.
TEST_F(InfoctlTest, JsonOutputEscapesEveryByteThatIsNotPlainUtf8) {
  ASSERT_EQ(0, Run({"set", "-v", "j.a", "q\"\\\n\r\t\b\f\x01\x1f\x7f", "j.b",
                    "caf\xc3\xa9 \xf0\x9f\x98\x80|caf\xe9|\xed\xa0\x80\xc0\xaf\xe2\x82|"
                    "\xf4\x90\x80\x80\xff",
                    "j.\xfe", "\\udcff"})
                   .status);
  // A NUL cannot travel in an argument; the daemon reads it from a file.
  WriteFile(root_.File("nul"), std::string("a\0b", 3));
  ASSERT_EQ(0, Run({"set-from-file", "-v", "j.nul", root_.File("nul")}).status);
  const std::string a = R"("j.a":"q\"\\\n\r\t\b\f\u0001\u001f)" "\x7f\"";
  const std::string b =
      "\"j.b\":\"caf\xc3\xa9 \xf0\x9f\x98\x80"
      R"(|caf\udce9|)"
      R"(\udced\udca0\udc80\udcc0\udcaf\udce2\udc82|)"
      R"(\udcf4\udc90\udc80\udc80\udcff")";
  const std::string fe = R"("j.\udcfe":"\\udcff")", nul = R"("j.nul":"a\u0000b")";
  // get keeps the order asked and lists a repeated name once; dump sorts byte-wise.
  EXPECT_EQ("{" + a + "," + b + "," + fe + "," + nul + "}\n",
            Run({"get", "--json", "j.a", "j.b", "j.\xfe", "j.nul", "j.a"}).out);
  EXPECT_EQ("{" + a + "," + b + "," + nul + "," + fe + "}\n", Run({"dump", "--json", "j.*"}).out);
  EXPECT_EQ("{}\n", Run({"dump", "--json", "nothing.*"}).out);
  const auto watch = daemon_.Watch({"--json", "j.\xfe"});
  ASSERT_TRUE(watch->WaitForLines(1));
  EXPECT_EQ(R"({"event":"changed","name":"j.\udcfe"})", watch->Lines().front());
}

// "get watch.a" with the address given in different ways ("none" is a missing file); a usage
// error is one line that points to the help and exits with 2.
TEST_F(InfoctlTest, AddressComesFromOptionThenFileThenEnvironmentAndUsageErrorsExitWith2) {
  const std::string address = daemon_.Address(), none = root_.File("none");
  const struct {
    TArgs options;
    std::string environmentAddress;
    int status;
    std::string error;
  } cases[] = {{{"-A", address}, "", 0, ""},
               {{"-A", address, "-i", none}, "", 0, ""},
               {{}, address, 0, ""},
               {{"-i", none}, address, 2, ""},
               {{"-A", "no-such-address"}, "", 2, "cannot reach"},
               {{"-A", daemon_.AddressFile()}, "", 2, "use -i"},
               {{}, "", 2, "no daemon address"}};
  for (const auto& c : cases) {
    TEnvironment environment = daemon_.Environment();
    environment["INFOSERVICE_ADDRESS"] = c.environmentAddress;
    const TResult result = RunProgram(
        root_, Concat(Concat({BinaryPath("infoctl")}, c.options), {"get", "watch.a"}), environment);
    EXPECT_EQ(c.status, result.status) << c.options.size() << c.environmentAddress;
    EXPECT_EQ(c.status == 0 ? "1\n" : "", result.out);
    EXPECT_NE(std::string::npos, result.err.find(c.error)) << result.err;
  }
  EXPECT_EQ(0, Run({"-h"}).status);
  for (const TArgs& arguments :
       {TArgs{"-x", "get", "a"}, TArgs{"get"}, TArgs{"set", "a"}, TArgs{"set", "a", "1", "b"},
        TArgs{"set", "-q", "a", "1"}, TArgs{"frobnicate"}, TArgs{"get-to-file", "a"},
        TArgs{"dump", "a.*", "b.*"}, TArgs{"watch"}, TArgs{"get", "-i", "file", "a"}}) {
    const TResult result = Run(arguments);
    EXPECT_EQ(2, result.status) << arguments.back();
    EXPECT_EQ(result.err.size() - 1, result.err.find('\n')) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("try 'infoctl -h'")) << result.err;
  }
}

}  // namespace
}  // namespace integration

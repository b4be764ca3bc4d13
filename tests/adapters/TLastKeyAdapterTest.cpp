#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "adapters/TLastKeyAdapter.h"
#include "tests/TestSupport.h"

namespace {

TEST(TLastKeyAdapterTest, KernelCommandLineRules) {
  struct TCase {
    const char* commandLine;
    const char* expected;
  } const cases[] = {
      {"console=ttyS0 last_key=2,0,73 quiet", "0x007BC97B"},
      {"last_key=0,3,96", "0x007BC97B"},
      {"last_key=2,0,72", "0x00000000"},
      {"last_key=0,3,96,5", "0x007BC97B"},
      {"last_key=2,0,", "0x00000000"},
      {"xlast_key=2,0,73 last_key=1,1,1", "0x007BC97B"},
      {"last_key 2,0,73 last_key=2,0,73", "0x00000000"},  // only the first occurrence counts
      {"last_key= 2, 0, +73", "0x007BC97B"},
      {"last_key=2 ,0,73", "0x00000000"},
      {"last_key=4294967298,0,73", "0x00000000"},  // does not wrap around to 2
      {"", "0x00000000"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(c.expected, TLastKeyAdapter::ScanCodeOf(c.commandLine)) << c.commandLine;
  }
}

TEST(TLastKeyAdapterTest, ReadsTheCommandLineAlsoOnAHost) {
  test::TRootDir root{"proc"};
  auto scanKey = [](bool host) {
    TLastKeyAdapter adapter(host);
    adapter.InitializeObjects();
    std::string value;
    EXPECT_TRUE(adapter.GetObject("var.last_scankey", value));
    return value;
  };
  EXPECT_EQ("0x00000000", scanKey(false));  // no command line
  test::WriteFile(root.File("proc/cmdline"), "root=/dev/mtdblock3 last_key=2,0,73\n");
  EXPECT_EQ("0x007BC97B", scanKey(true));
  // Only the first 1023 bytes are read.
  test::WriteFile(root.File("proc/cmdline"), std::string(1020, ' ') + "last_key=2,0,73");
  EXPECT_EQ("0x00000000", scanKey(false));
}

}  // namespace

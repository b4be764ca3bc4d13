#include <gtest/gtest.h>
#include <stdlib.h>

#include "os/RootPath.h"

namespace {

TEST(RootPathTest, RootIsPutInFrontWithOneSlashAndUnsetOrEmptyLeavesPathsAlone) {
  const std::pair<const char*, const char*> cases[] = {{nullptr, "/etc/x.xml"},
                                                       {"", "/etc/x.xml"},
                                                       {"/tmp/r", "/tmp/r/etc/x.xml"},
                                                       {"/tmp/r//", "/tmp/r/etc/x.xml"},
                                                       {"/", "/etc/x.xml"}};
  for (const auto& [root, expected] : cases) {
    if (root) setenv("INFOSERVICE_ROOT", root, 1);
    EXPECT_EQ(expected, RootPath("/etc/x.xml")) << (root ? root : "unset");
  }
  unsetenv("INFOSERVICE_ROOT");
}

}  // namespace

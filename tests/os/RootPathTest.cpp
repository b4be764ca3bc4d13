#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "os/RootPath.h"

namespace {

TEST(RootPathTest, RootIsPutInFrontWithOneSlashAndUnsetOrEmptyLeavesPathsAlone) {
  const char* previous = getenv("INFOSERVICE_ROOT");
  const bool hadRoot = previous != nullptr;
  const std::string saved = hadRoot ? previous : "";
  unsetenv("INFOSERVICE_ROOT");
  EXPECT_EQ("/etc/ial_token_value_dictionary.xml", RootPath("/etc/ial_token_value_dictionary.xml"));
  setenv("INFOSERVICE_ROOT", "", 1);
  EXPECT_EQ("/flash2/information/", RootPath("/flash2/information/"));
  setenv("INFOSERVICE_ROOT", "/tmp/r", 1);
  EXPECT_EQ("/tmp/r/etc/x.xml", RootPath("/etc/x.xml"));
  setenv("INFOSERVICE_ROOT", "/tmp/r//", 1);
  EXPECT_EQ("/tmp/r/proc/cmdline", RootPath("/proc/cmdline"));
  setenv("INFOSERVICE_ROOT", "/", 1);
  EXPECT_EQ("/proc/cmdline", RootPath("/proc/cmdline"));
  if (hadRoot) {
    setenv("INFOSERVICE_ROOT", saved.c_str(), 1);
  } else {
    unsetenv("INFOSERVICE_ROOT");
  }
}

}  // namespace

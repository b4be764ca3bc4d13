// Every test here starts the project's programs. A cross build's target binaries run only where
// the kernel hands them to qemu (binfmt_misc); scripts/cross-test.sh says whether it could
// arrange that, and without it the whole binary skips with a reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

struct TProgramsCanRun final : ::testing::Environment {
  void SetUp() override {
    const char* canExec = std::getenv("INFOSERVICE_CAN_EXEC");
    if (canExec && std::strcmp(canExec, "0") == 0) {
      GTEST_SKIP() << "target binaries cannot be started here (no binfmt_misc registration "
                      "for qemu): the tests that start programs are skipped";
    }
  }
};
[[maybe_unused]] ::testing::Environment* const g_programsCanRun =
    ::testing::AddGlobalTestEnvironment(new TProgramsCanRun);

}  // namespace

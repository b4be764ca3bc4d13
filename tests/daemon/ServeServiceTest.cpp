#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "daemon/AddressFile.h"
#include "daemon/ServeService.h"
#include "tests/daemon/DaemonTestSupport.h"

namespace {

using test::TDaemonTest;
using TServeServiceTest = TDaemonTest;

// Whoever waits for the address file may call at once, so the file holds the traced address
// before any adapter starts; the adapters are initialised with their callback before serving.
TEST_F(TServeServiceTest, StandaloneWritesTheTracedAddressBeforeTheAdaptersStart) {
  const std::string addressFile = root_.File("address");
  test::WriteFile(addressFile, "old content that is longer than an address");
  Create(true);
  std::string seenByAdapter;
  probe_->onInitialize = [&] { seenByAdapter = test::ReadFile(addressFile); };

  const TServedObjects served = ServeService(*service_, *platform_, server_, true, addressFile);

  EXPECT_TRUE(probe_->initialisedWithCallback);
  ASSERT_EQ(3u, server_.objects.size());
  EXPECT_EQ(server_.objects[0], seenByAdapter);
  EXPECT_EQ(seenByAdapter, test::ReadFile(addressFile));
  EXPECT_TRUE(
      tracker_.Tracker().Holds(TTracker::kTrace, "Information Service address: " + seenByAdapter));
}

TEST(AddressFileTest, AnUnwritableFileIsReportedAndNothingElse) {
  test::TScopedProcessTracker tracker;
  test::TTempDir dir;
  const std::string missing = dir.File("missing/address");
  WriteAddressFile(missing, "address");
  EXPECT_FALSE(test::FileExists(missing));
  ASSERT_EQ(1u, tracker.Tracker().messages.size());
  EXPECT_EQ("Could not write IS address to '" + missing + "'",
            tracker.Tracker().messages.front().second);
}

using TServeServiceDeathTest = TDaemonTest;

// Without its environment the daemon must not run half-registered, nor start its adapters.
TEST_F(TServeServiceDeathTest, PlatformModeWithoutItsEnvironmentStopsBeforeTheAdapters) {
  // The child traces through the standard-error fallback so that the message can be seen.
  auto run = [this] {
    TTracker::SetProcessTracker(nullptr);
    Create(false);
    probe_->onInitialize = [] { std::fputs("adapter initialised\n", stderr); };
    ServeService(*service_, *platform_, server_, false, "");
  };
  // The message is the last thing before the abort; under qemu-user (cross builds) the
  // emulator adds one line of its own about the signal.
  const std::string qemuTrailer = "(qemu: [^\n]*\n)?$";
  unsetenv("SERVICE_ID");
  unsetenv("NAMESERVICE_ADDRESS");
  EXPECT_DEATH(run(), "SERVICE_ID is not set\n" + qemuTrailer);
  setenv("SERVICE_ID", "12", 1);
  EXPECT_DEATH(run(), "NAMESERVICE_ADDRESS is not set\n" + qemuTrailer);
  unsetenv("SERVICE_ID");
}

}  // namespace

#include <gtest/gtest.h>

#include <vector>

#include "daemon/TPlatformRegistration.h"
#include "tests/daemon/DaemonTestSupport.h"

namespace {

using TPlatformRegistrationTest = test::TDaemonTest;

// An ended instance's subscriptions go, and the adapters are asked again what to fetch; other
// states leave the subscriptions alone. Without a registration there is nobody to confirm to.
TEST_F(TPlatformRegistrationTest, EndedApplicationLosesItsSubscriptions) {
  Create(true);
  probe_->SetCallback(service_.get());
  service_->SubscribeObject2("cfg.*", 5, "s5", false);
  service_->SubscribeObject2("cfg.*", 6, "s6", false);
  const int fetches = probe_->fetches;

  platform_->OnStateChanged({{5, TPlatformRegistration::kStateEnded}, {6, 3}, {6, 4}});
  EXPECT_EQ(fetches + 1, probe_->fetches);
  service_->SetObject("cfg.x", "1", IToiInformationService::eVolatile);

  EXPECT_EQ(std::vector<std::string>{"s6 cfg.x"}, notifications_);
}

}  // namespace

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "adapters/TOsAdapter.h"
#include "os/TManualClock.h"
#include "tests/adapters/AdapterTestSupport.h"

namespace {

using TAddress = ISystemFacts::THardwareAddress;
using TResult = ISystemFacts::THardwareAddressResult;

// Interfaces and memory figures chosen by the test.
class TFakeSystem final : public ISystemFacts {
 public:
  bool GetMemory(TMemory& memory) const override {
    if (!memoryWorks) return false;
    memory = this->memory;
    return true;
  }
  TResult GetHardwareAddress(const std::string& name, TAddress& address) const override {
    if (noSocket) return TResult::eNoSocket;
    const auto found = interfaces.find(name);
    if (found == interfaces.end()) return TResult::eNoAddress;
    address = found->second;
    return TResult::eOk;
  }
  std::vector<std::string> GetInterfaceNames() const override { return order; }
  TMemory memory;
  bool memoryWorks = true;
  bool noSocket = false;
  std::map<std::string, TAddress> interfaces{{"eth0", {{0x00, 0x1A, 0x0b, 0xc0, 0xff, 0x01}}}};
  std::vector<std::string> order;
};

class TOsAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(root_.File("var/hal/systeminfo"), "box\nmipsel-linux\nrev\nx\n");
    test::WriteFile(root_.File("var/hal/firmware-version"), "4.2.1\n");
  }
  TOsAdapter& Load(bool host = false) {
    adapter_ = std::make_unique<TOsAdapter>(host, system_, clock_);
    adapter_->InitializeObjects();
    return *adapter_;
  }
  std::string Get(const std::string& name) const { return test::ValueOf(*adapter_, name); }
  // "width x height at (x, y)" of the visible area, and the screen height.
  std::string Areas() const {
    return Get("config.visiblearea.width") + "x" + Get("config.visiblearea.height") + "@" +
           Get("config.visiblearea.x") + "," + Get("config.visiblearea.y") + " screen " +
           Get("config.screenarea.width") + "x" + Get("config.screenarea.height");
  }
  test::TScopedProcessTracker scoped_;
  test::TRootDir root_{"proc", "proc/qboxparam", "proc/qboxuserparam", "var", "var/hal"};
  TFakeSystem system_;
  TManualClock clock_{1000, 1700000000};
  std::unique_ptr<TOsAdapter> adapter_;
};

TEST_F(TOsAdapterTest, HostEnvironmentUsesNoHalAndA576LineScreen) {
  ::remove(root_.File("var/hal/systeminfo").c_str());  // a HAL call would abort now
  Load(true);
  EXPECT_EQ("612x490@54,43 screen 720x576", Areas());
  EXPECT_EQ("576", Get("config.portalarea.height"));
  EXPECT_EQ("00:1a:0b:c0:ff:01", Get("const.ip.eth0.mac"));
  EXPECT_FALSE(adapter_->HasObject("config.architecture.target"));
}

TEST_F(TOsAdapterTest, BoxTakesHalFactsAndTheScreenFromTheColourSystem) {
  test::WriteFile(root_.File("proc/qboxparam/currentcolorcoding"), "NTSC");
  Load();
  EXPECT_EQ("mipsel-linux", Get("config.architecture.target"));
  EXPECT_EQ("4.2.1", Get("const._fw.version"));
  EXPECT_EQ("612x408@54,36 screen 720x480", Areas());
  ::remove(root_.File("var/hal/firmware-version").c_str());  // an error only
  Load();
  EXPECT_FALSE(adapter_->HasObject("const._fw.version"));
  EXPECT_TRUE(scoped_.Tracker().Holds(TTracker::kError, "TOsAdapter: Could not get firmware info"));
}

TEST_F(TOsAdapterTest, ColourSystemRules) {
  struct TCase {
    const char* user;        // usercolorcoding, nullptr: missing
    const char* production;  // currentcolorcoding
    const char* height;
  } const cases[] = {
      {"ntsc-j and more", nullptr, "480"}, {nullptr, "pal-m", "480"}, {nullptr, "PAL-N", "576"},
      {nullptr, nullptr, "576"},           {"PAL", "NTSC", "576"},    {nullptr, "NTS", "576"},
      {nullptr, "PAL-M\n", "576"},  // the kept line feed makes it another system
  };
  for (const TCase& c : cases) {
    ::remove(root_.File("proc/qboxuserparam/usercolorcoding").c_str());
    ::remove(root_.File("proc/qboxparam/currentcolorcoding").c_str());
    if (c.user) test::WriteFile(root_.File("proc/qboxuserparam/usercolorcoding"), c.user);
    if (c.production)
      test::WriteFile(root_.File("proc/qboxparam/currentcolorcoding"), c.production);
    Load();
    EXPECT_EQ(c.height, Get("config.screenarea.height"))
        << (c.user ? c.user : "-") << " / " << (c.production ? c.production : "-");
  }
}

TEST_F(TOsAdapterTest, TimeAndFreeMemoryAreComputedOnEachRead) {
  Load();
  EXPECT_TRUE(adapter_->HasObject("var.utctime"));
  EXPECT_EQ("1700000000", Get("var.utctime"));
  clock_.Advance(1000);
  EXPECT_EQ("1700000001", Get("var.utctime"));
  system_.memory = {10000, 4096};
  EXPECT_EQ("40000", Get("var.memfree"));
  system_.memory = {5ull * 1024 * 1024, 1024};  // 5 GiB free must not wrap around
  EXPECT_EQ("5242880", Get("var.memfree"));
  system_.memoryWorks = false;
  std::string value = "before";
  EXPECT_TRUE(adapter_->GetObject("var.memfree", value));
  EXPECT_EQ("before", value);
  std::string stored = "x";  // the map only routes; the value is never stored
  adapter_->TInformationAdapter::GetObject("var.utctime", stored);
  EXPECT_EQ("", stored);
}

TEST_F(TOsAdapterTest, HostWithoutEth0FallsBackWithAWarning) {
  system_.interfaces = {{"lo", {{0, 0, 0, 0, 0, 0}, true}},
                        {"tun0", {}},
                        {"wlan0", {{0xde, 0xad, 0xbe, 0xef, 0x00, 0x0a}}}};
  system_.order = {"lo", "tun0", "wlan0"};
  Load(true);
  EXPECT_EQ("de:ad:be:ef:00:0a", Get("const.ip.eth0.mac"));
  EXPECT_TRUE(scoped_.Tracker().Holds(TTracker::kWarning, "Could not get eth0 MAC address"));
  system_.order = {"lo", "tun0"};
  Load(true);
  EXPECT_EQ("00:00:00:00:00:00", Get("const.ip.eth0.mac"));
}

TEST_F(TOsAdapterTest, BoxStopsWithoutEth0OrHalSystemInformation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TTracker::SetProcessTracker(nullptr);  // the fatal trace must reach standard error
  system_.interfaces.clear();
  EXPECT_DEATH(Load(), "TOsAdapter: Could not get eth0 MAC address");
  system_.noSocket = true;
  EXPECT_DEATH(Load(), "TOsAdapter: Could not open UDP socket; errno = ");
  system_.noSocket = false;
  system_.interfaces["eth0"] = {};
  ::remove(root_.File("var/hal/systeminfo").c_str());
  EXPECT_DEATH(Load(), "TOsAdapter: Could not get HAL system info");
}

}  // namespace

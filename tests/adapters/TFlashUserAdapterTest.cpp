// The flash user settings: the firmware's value spellings, the write delay and the write at
// shutdown, on the file-backed HAL with the loop driven by hand. The daemon's test
// (tests/integration/FlashUserDaemonTest.cpp) writes at shutdown and reads after a restart.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "adapters/TFlashUserAdapter.h"
#include "base/TException.h"
#include "tests/adapters/AdapterTestSupport.h"

using namespace test;

class TFlashUserAdapterTest : public ::testing::Test {
 protected:
  std::unique_ptr<TFlashUserAdapter> Start(bool host = false, uint32_t delay = 10) {
    auto adapter = std::make_unique<TFlashUserAdapter>(host, delay, &loop_);
    adapter->SetCallback(&callback_);
    adapter->InitializeObjects();
    return adapter;
  }
  // Puts an area text with the given elements where the adapter keeps it.
  void WriteArea(const std::string& elements) {
    WriteFile(image_, std::string(TFlashUserAdapter::kAreaLocation, '\0') + "<Configuration>" +
                          elements + "</Configuration>");
  }
  // The area text up to its zero byte; empty when the image does not exist.
  std::string Area() const {
    const std::string image = ReadFile(image_);
    if (image.size() <= TFlashUserAdapter::kAreaLocation) return "";
    return std::string(image.c_str() + TFlashUserAdapter::kAreaLocation);
  }
  std::string Get(const TFlashUserAdapter& adapter, const std::string& name) {
    return test::ValueOf(adapter, name);
  }
  THalRoot root_;
  std::string image_ = root_.File("var/hal/flash.img");
  TManualClock clock_;
  TFakeLoop loop_;
  TRecordingCallback callback_;
  TScopedProcessTracker scopedTracker_;
};

TEST_F(TFlashUserAdapterTest, ValuesAreTranslatedForTheFirmwareOnlyWhereItSpellsThemOtherwise) {
  struct TCase {
    const char* name;
    const char* value;
    const char* text;
  } cases[] = {
      {"cfg.media.tv.output", "Video", "CVBS"},
      {"cfg.media.tv.output", "S-Video", "SVIDEO"},
      {"cfg.media.tv.output", "s-video", "s-video"},  // comparisons are exact
      {"_fw.cfg.ip.eth0.mode", "Static", "Fixed"},
      {"_fw.cfg.ip.eth0.mode", "DHCP", "DHCP"},
      {"cfg.media.tv.colorsystem", "S-Video", "S-Video"},  // only for its own object
  };
  for (const TCase& c : cases) {
    {
      auto adapter = Start();
      adapter->SetObject(c.name, c.value);
      loop_.Fire(clock_);
      EXPECT_NE(Area().find(std::string(">") + c.text + "</"), std::string::npos) << c.value;
    }
    auto reread = Start();
    EXPECT_EQ(Get(*reread, c.name), c.value);
    ::remove(image_.c_str());
  }
}

TEST_F(TFlashUserAdapterTest, ChangesWithinTheDelayShareOneWrite) {
  auto adapter = Start(false, 7);
  adapter->SetObject("_fw.cfg.ip.dns1", "10.0.0.1");
  adapter->SetObject("_fw.cfg.ip.dns2", "10.0.0.2");
  adapter->SetObject("_fw.cfg.ip.dns1", "10.0.0.1");  // unchanged: no report
  adapter->UnsetObject("_fw.cfg.ip.gateway");         // not held: no report
  adapter->UnsetObject("_fw.cfg.ip.dns2");
  EXPECT_EQ(callback_.reports,
            (std::vector<std::string>{"set _fw.cfg.ip.dns1", "set _fw.cfg.ip.dns2",
                                      "unset _fw.cfg.ip.dns2"}));
  EXPECT_EQ(loop_.added, std::vector<unsigned int>{7000});
  EXPECT_EQ(Area(), "");
  loop_.Fire(clock_);
  EXPECT_EQ(Area(),
            "<?xml version=\"1.0\"?>\n<Configuration>\n  <DNS1>10.0.0.1</DNS1>\n"
            "</Configuration>\n");
  EXPECT_TRUE(loop_.active.empty());
  EXPECT_EQ(adapter->TEST_GetPendingTimeout(), -1);
  // A value already held schedules nothing; a new change arms the timer again.
  adapter->SetObject("_fw.cfg.ip.dns1", "10.0.0.1");
  EXPECT_TRUE(loop_.active.empty());
  adapter->SetObject("_fw.cfg.ip.dns1", "10.0.0.9");
  EXPECT_EQ(loop_.PendingMs(), 7000u);
}

TEST_F(TFlashUserAdapterTest, HostEnvironmentNeverTouchesTheArea) {
  WriteArea("<UserVideoMode>CVBS</UserVideoMode>");
  const std::string before = ReadFile(image_);
  auto adapter = Start(true);
  EXPECT_EQ(Get(*adapter, "cfg.media.tv.output"), "<absent>");
  adapter->SetObject("cfg.media.tv.output", "S-Video");
  EXPECT_EQ(Get(*adapter, "cfg.media.tv.output"), "S-Video");
  loop_.Fire(clock_);
  adapter->SetObject("_fw.cfg.ip.dns1", "10.0.0.1");
  adapter.reset();
  EXPECT_EQ(ReadFile(image_), before);
}

// A value the area cannot hold would block every later write of the area; it is refused and
// the store stays as it was.
TEST_F(TFlashUserAdapterTest, ValueTooLargeForTheAreaIsRefusedWith202) {
  auto adapter = Start();
  adapter->SetObject("_fw.cfg.ip.dns1", "10.0.0.1");
  EXPECT_EQ(Refusal([&] {
              adapter->SetObject("_fw.cfg.ip.metachannel", std::string(4096, 'x'));
            }).substr(0, 4),
            "202 ");
  EXPECT_EQ(Get(*adapter, "_fw.cfg.ip.metachannel"), "<absent>");
  EXPECT_EQ(callback_.reports, std::vector<std::string>{"set _fw.cfg.ip.dns1"});
  loop_.Fire(clock_);
  EXPECT_NE(Area().find("<DNS1>10.0.0.1</DNS1>"), std::string::npos);
}

// A write the HAL refused is tried again at shutdown, so the change is not lost.
TEST_F(TFlashUserAdapterTest, FailedWriteIsRetriedAtShutdown) {
  auto adapter = Start();
  mkdir(image_.c_str(), 0755);  // read as blank at the start, then neither read nor written
  adapter->SetObject("_fw.cfg.ip.gateway", "10.0.0.254");
  loop_.Fire(clock_);
  ::rmdir(image_.c_str());
  adapter.reset();
  EXPECT_NE(Area().find("<Gateway>10.0.0.254</Gateway>"), std::string::npos);
}

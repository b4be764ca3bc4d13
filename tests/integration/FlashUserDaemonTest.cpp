// The flash user settings on the real daemon, without -t, on the file-backed HAL: a set
// reaches the flash image in the firmware's spelling after the write delay, a change pending
// at the hang-up is written before the daemon ends, and both load again at the next start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

constexpr size_t kAreaLocation = 20480;

class FlashUserDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((root_.Path() + "/var").c_str(), 0755);
    mkdir((root_.Path() + "/var/hal").c_str(), 0755);
    // The other HAL files, for the adapters that read the system information.
    WriteFile(root_.Path() + "/var/hal/systeminfo", "STB\narmhf\nrev1\nboard1\n");
    WriteFile(root_.Path() + "/var/hal/firmware-version", "1.0.0\n");
  }
  // The area text up to its zero byte.
  std::string Area() const {
    const std::string image = ReadFile(root_.Path() + "/var/hal/flash.img");
    return image.size() > kAreaLocation ? std::string(image.c_str() + kAreaLocation) : "";
  }
  bool AreaHolds(const std::string& text) const {
    return WaitUntil([&] { return Area().find(text) != std::string::npos; });
  }
  std::string Get(const std::string& name) {
    const TResult result = daemon_.Infoctl({"get", name});
    return result.status == 0 ? result.out : "<status " + std::to_string(result.status) + ">";
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
};

TEST_F(FlashUserDaemonTest, SettingsReachTheAreaAfterTheDelayOrAtShutdownAndSurviveARestart) {
  const std::string awkward = "<boot> & \"cast\" 'x'";
  ASSERT_TRUE(daemon_.Start({"-s", "-y", "1"})) << daemon_.Log();
  ASSERT_EQ(
      daemon_.Infoctl({"set", "cfg.media.tv.output", "S-Video", "_fw.cfg.ip.metachannel", awkward})
          .status,
      0);
  EXPECT_TRUE(AreaHolds("<UserVideoMode>SVIDEO</UserVideoMode>")) << Area();
  EXPECT_TRUE(AreaHolds("<Bootcast>&lt;boot&gt; &amp; &quot;cast&quot; &apos;x&apos;</Bootcast>"))
      << Area();
  ASSERT_EQ(daemon_.Stop(), 0);

  // A delay that never ends while the test runs: only the shutdown can write this change.
  ASSERT_TRUE(daemon_.Start({"-s", "-y", "3600"})) << daemon_.Log();
  EXPECT_EQ(Get("cfg.media.tv.output"), "S-Video\n");
  EXPECT_EQ(Get("_fw.cfg.ip.metachannel"), awkward + "\n");
  ASSERT_EQ(daemon_.Infoctl({"set", "_fw.cfg.ip.eth0.mode", "Static"}).status, 0);
  EXPECT_EQ(Area().find("IPResolution"), std::string::npos);
  ASSERT_EQ(daemon_.Stop(), 0);
  EXPECT_NE(Area().find("<IPResolution>Fixed</IPResolution>"), std::string::npos) << Area();

  ASSERT_TRUE(daemon_.Start({"-s"})) << daemon_.Log();
  EXPECT_EQ(Get("_fw.cfg.ip.eth0.mode"), "Static\n");
  EXPECT_EQ(Get("cfg.media.tv.output"), "S-Video\n");
}

}  // namespace
}  // namespace integration

// The real daemon without -t, on the file-backed HAL and a fake /proc tree in the root: the
// flash user settings, and the facts of the box.
#include <gtest/gtest.h>

#include <ctime>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

constexpr size_t kAreaLocation = 20480;
const char kMac[] = "02:00:00:00:1a:01";

class FlashUserDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.AddHal();
    for (const char* dir : {"/proc/qboxparam", "/proc/qboxuserparam", "/var/state"}) {
      mkdir((root_.Path() + dir).c_str(), 0755);
    }
    for (const auto& [file, content] : std::vector<std::pair<std::string, std::string>>{
             {"/proc/qboxparam/serialnumber", "SN-4711"},
             {"/proc/qboxparam/model", "NMB1910 HD"},
             {"/proc/qboxparam/dvbnim", "Yes"},
             {"/proc/qboxuserparam/usercolorcoding", "NTSC"},
             {"/proc/cmdline", "console=ttyS0 last_key=0,3,96\n"}}) {
      WriteFile(root_.Path() + file, content);
    }
  }
  void WriteArea(const std::string& text) {
    WriteFile(image_, std::string(kAreaLocation, '\0') + text + std::string(1, '\0'));
  }
  // The area text up to its zero byte.
  std::string Area() const {
    const std::string image = ReadFile(image_);
    return image.size() > kAreaLocation ? std::string(image.c_str() + kAreaLocation) : "";
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
  std::string image_ = root_.Path() + "/var/hal/flash.img";
};

// The firmware's network settings live in the same area: a write of what an empty adapter
// holds would erase them. Every set tries the read again; once read, a set reaches the area
// after the write delay, in the firmware's spelling, beside the elements the daemon does not
// know.
TEST_F(FlashUserDaemonTest, UnreadableAreaRefusesSetsUntilReadThenKeepsWhatItHeld) {
  const std::string firmware = "<DNS1>10.0.0.53</DNS1><Vendor>v1</Vendor>";
  WriteArea("<Configuration>" + firmware);  // cut short: does not parse
  ASSERT_TRUE(daemon_.Start({"-s", "-y", "1"})) << daemon_.Log();
  const TResult refused = daemon_.Infoctl({"set", "cfg.media.tv.output", "S-Video"});
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("error 207")) << refused.err;
  EXPECT_EQ("<Configuration>" + firmware, Area());

  WriteArea("<Configuration>" + firmware + "</Configuration>");
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.media.tv.output", "S-Video", "_fw.cfg.ip.metachannel",
                                "<boot> & \"cast\" 'x'"}).status);
  EXPECT_EQ("10.0.0.53", daemon_.Get("_fw.cfg.ip.dns1"));
  EXPECT_TRUE(WaitUntil([&] { return Area().find("SVIDEO") != std::string::npos; }));
  for (const char* element : {"<UserVideoMode>SVIDEO</UserVideoMode>", "<DNS1>10.0.0.53</DNS1>",
                              "<Vendor>v1</Vendor>",
                              "<Bootcast>&lt;boot&gt; &amp; &quot;cast&quot; &apos;x&apos;"}) {
    EXPECT_NE(std::string::npos, Area().find(element)) << Area();
  }
  EXPECT_EQ(0, daemon_.Stop());
}

// One fact from each source: production parameters, the colour system, the kernel command
// line, eth0, the HAL's system information and firmware version, the clock. The daemon runs
// in a network namespace of its own whose eth0 has kMac (interface types are tried in turn,
// since not every kernel has the dummy one); the syslog settings land in the box tree.
TEST_F(FlashUserDaemonTest, BoxFactsFromEverySourceAndTheSyslogFiles) {
  if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0) {
    GTEST_SKIP() << "a network namespace needs root and unshare";
  }
  const std::string script = "for type in dummy bridge ifb; do ip link add eth0 address " +
                             std::string(kMac) +
                             " type $type 2>/dev/null && exec \"$0\" \"$@\"; done; exit 77";
  if (!daemon_.Start({"-s"}, {}, {"/usr/bin/unshare", "-n", "/bin/sh", "-c", script})) {
    if (daemon_.Process().Wait() == 77) GTEST_SKIP() << "no interface type to stand in for eth0";
    FAIL() << daemon_.Log();
  }
  EXPECT_EQ("SN-4711\n408\n0x007BC97B\n" + std::string(kMac) + "\narmhf\n1.0.0\ntrue\n",
            daemon_.Infoctl({"get", "const.hw.serialnumber", "config.visiblearea.height",
                             "var.last_scankey", "const.ip.eth0.mac", "config.architecture.target",
                             "const._fw.version", "const.capabilities.dtt"}).out);
  const time_t before = time(nullptr);
  const std::string utc = daemon_.Get("var.utctime");
  EXPECT_LE(before, std::stol(utc)) << utc;
  EXPECT_GE(time(nullptr), std::stol(utc)) << utc;
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.app.syslog.url", "udp://127.0.0.1:514"}).status);
  EXPECT_EQ("127.0.0.1:514", ReadFile(root_.Path() + "/etc/syslog.conf.url"));
  EXPECT_EQ("-R", ReadFile(root_.Path() + "/var/state/syslog.restart"));
  EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log();
}

}  // namespace
}  // namespace integration
